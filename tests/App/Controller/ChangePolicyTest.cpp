#include <gtest/gtest.h>

#include "App/Controller/ChangePolicy.h"
#include "Support/ControllerFixture.h"

namespace zelto {
namespace {

using json = nlohmann::json;
using Kind = ChangePolicy::Change::Kind;
using Refusal = ChangePolicy::Decision::Refusal;

class ChangePolicyTest : public testing::ControllerFixture {};

// Every kind of change against a free period, a hardcore timer that must be completed (its allow
// list off) and a locked scheduled period (schedule "W", 09:00-17:00, its allow list on).
TEST_F(ChangePolicyTest, ALockedPeriodRefusesExactlyWhatLoosensIt) {
  enum Phase { kFree, kLockedTimer, kLockedSchedule };
  const json sites = {{"blockedWebsites", {"a.com", "+ok.com"}},
                      {"whitelistedWebsites", {"w.com", "-bad.com"}}};
  json schedule = {{"isEnabled", true},
                   {"scheduleType", 8},
                   {"fromDate", {{"hour", 9}}},
                   {"toDate", {{"hour", 17}}},
                   {"uniqueID", "W"}};
  BlockingPhase later;  // a start keeping the lock, ending after 17:00
  later.locked = true;
  later.endsAt = JSONValues::parseDate("2026-12-09T18:00:00+01:00");
  BlockingPhase sooner = later;
  sooner.endsAt = JSONValues::parseDate("2026-12-09T12:30:00+01:00");
  BlockingPhase unlocked = later;
  unlocked.locked = false;
  struct Case {
    ChangePolicy::Change change;
    Phase phase;
    Refusal refusal;
  };
  const std::vector<Case> cases = {
      {{.kind = Kind::kStop}, kFree, Refusal::kNone},
      {{.kind = Kind::kStop}, kLockedTimer, Refusal::kLocked},
      {{.kind = Kind::kStop}, kLockedSchedule, Refusal::kLocked},
      {{.kind = Kind::kStart, .after = later}, kLockedSchedule, Refusal::kNone},
      {{.kind = Kind::kStart, .after = sooner}, kLockedTimer, Refusal::kLocked},
      {{.kind = Kind::kStart, .after = unlocked}, kLockedTimer, Refusal::kLocked},
      {{.kind = Kind::kStart, .after = unlocked}, kFree, Refusal::kNone},
      {{.kind = Kind::kTakeBreak}, kLockedTimer, Refusal::kMustComplete},
      {{.kind = Kind::kTakeBreak}, kLockedSchedule, Refusal::kNone},
      {{.kind = Kind::kAddSite, .subject = "c.com"}, kLockedTimer, Refusal::kNone},
      {{.kind = Kind::kAddSite, .subject = "+x.com"}, kLockedTimer, Refusal::kLocked},
      {{.kind = Kind::kAddSite, .subject = "-y.com", .allowList = true},
       kLockedTimer,
       Refusal::kLocked},
      {{.kind = Kind::kAddSite, .subject = "+x.com"}, kFree, Refusal::kNone},
      {{.kind = Kind::kRemoveSite, .subject = "a.com"}, kLockedTimer, Refusal::kLocked},
      {{.kind = Kind::kRemoveSite, .subject = "+ok.com"}, kLockedTimer, Refusal::kNone},
      {{.kind = Kind::kRemoveSite, .subject = ""}, kLockedTimer, Refusal::kNone},
      // The allow list blocks with its "-" patterns only while it is in force.
      {{.kind = Kind::kRemoveSite, .subject = "-bad.com", .allowList = true},
       kLockedTimer,
       Refusal::kNone},
      {{.kind = Kind::kRemoveSite, .subject = "-bad.com", .allowList = true},
       kLockedSchedule,
       Refusal::kLocked},
      {{.kind = Kind::kRemoveSite, .subject = "w.com", .allowList = true},
       kLockedSchedule,
       Refusal::kNone},
      {{.kind = Kind::kSwitchAllowList}, kLockedSchedule, Refusal::kLocked},
      {{.kind = Kind::kSwitchAllowList}, kFree, Refusal::kNone},
      {{.kind = Kind::kAddApplication, .subject = "/usr/bin/x"}, kLockedTimer, Refusal::kNone},
      {{.kind = Kind::kChangeApplication, .subject = "/usr/bin/x"}, kLockedTimer, Refusal::kLocked},
      {{.kind = Kind::kRemoveApplication, .subject = "/usr/bin/x"}, kLockedTimer, Refusal::kLocked},
      {{.kind = Kind::kRemoveApplication, .subject = "/usr/bin/x"}, kFree, Refusal::kNone},
      // Only a schedule keeping the locked period going can't be taken away.
      {{.kind = Kind::kRemoveSchedule, .subject = "W"}, kLockedSchedule, Refusal::kLocked},
      {{.kind = Kind::kDisableSchedule, .subject = "W"}, kLockedSchedule, Refusal::kLocked},
      {{.kind = Kind::kRemoveSchedule, .subject = "other"}, kLockedSchedule, Refusal::kNone},
      {{.kind = Kind::kRemoveSchedule, .subject = "W"}, kLockedTimer, Refusal::kNone},
      {{.kind = Kind::kEnableSchedule, .subject = "W"}, kLockedSchedule, Refusal::kNone},
      {{.kind = Kind::kAddSchedule}, kLockedSchedule, Refusal::kNone},
      {{.kind = Kind::kSwitchLogOff}, kLockedSchedule, Refusal::kLocked},
      {{.kind = Kind::kSwitchLogOff}, kFree, Refusal::kNone},
      {{.kind = Kind::kChangePorts}, kLockedSchedule, Refusal::kLocked},
      {{.kind = Kind::kChangePorts}, kFree, Refusal::kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "change " << static_cast<int>(c.change.kind) << " \""
                                      << c.change.subject << "\" in phase " << c.phase);
    json profile = sites;
    Zelto* zelto = nullptr;
    if (c.phase == kFree) {
      zelto = &start(profile, {{"zeltoType", 0}, {"lastZeltoDate", "2026-12-09T11:00:00+01:00"}});
    } else if (c.phase == kLockedTimer) {
      zelto = &startLocked(profile);
    } else {
      profile["schedules"] = json::array({schedule});
      profile["enableWhitelistWebsites"] = true;
      zelto = &start(profile, {{"zeltoHardcoreMode", true}});
    }
    const BlockingPhase phase = BlockingPhase::of(*zelto);
    ASSERT_EQ(phase.locked, c.phase != kFree);
    const ChangePolicy::Decision decision = ChangePolicy::decide(*zelto, phase, c.change);
    EXPECT_EQ(decision.refusal, c.refusal);
    EXPECT_EQ(decision.allowed(), c.refusal == Refusal::kNone);
    EXPECT_EQ(decision.reason, decision.allowed() ? "" : phase.lockReason);
  }
}

}  // namespace
}  // namespace zelto
