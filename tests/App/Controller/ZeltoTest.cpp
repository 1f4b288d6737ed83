#include <gtest/gtest.h>

#include <filesystem>

#include "App/Controller/ChangePolicy.h"
#include "Platform/NotificationCenter.h"
#include "Support/ControllerFixture.h"
#include "Support/LogCapture.h"

namespace zelto {
namespace {

using json = nlohmann::json;
using testing::at;
using testing::LogCapture;

// Controllers made with ControllerFixture::make: the phase not observed, so that each test sets
// `isZeltoing` itself.
class ZeltoTest : public testing::ControllerFixture {};

TEST_F(ZeltoTest, ShouldZeltoInEveryMode) {
  const std::string now = "2026-12-09T12:00:00Z";
  auto decide = [&](json config) { return make(config, now).shouldZelto(); };
  EXPECT_TRUE(decide({{"zeltoType", 1}, {"zeltoUnblockDate", "2026-12-09T12:00:01Z"}}));
  EXPECT_FALSE(decide({{"zeltoType", 1},
                       {"zeltoUnblockDate", "2026-12-09T12:00:00Z"},
                       {"lastZeltoDate", "2026-12-09T11:00:00Z"},
                       {"lastUnzeltoDate", "2026-12-09T11:30:00Z"}}));
  // Switched on and never off counts as running, in any mode.
  EXPECT_TRUE(decide({{"zeltoType", 2}, {"lastZeltoDate", "2026-12-09T11:00:00Z"}}));
  EXPECT_FALSE(decide({{"zeltoType", 0}, {"lastUnzeltoDate", "2026-12-09T11:00:00Z"}}));
  // A future unblock date outside timer mode doesn't count.
  EXPECT_FALSE(decide({{"zeltoType", 0}, {"zeltoUnblockDate", "2026-12-10T12:00:00Z"}}));

  Zelto& other = make({{"zeltoType", 3}}, now);
  EXPECT_FALSE(other.isNormal() || other.isTimer() || other.isSchedule() || other.isTimeBased());
}

TEST_F(ZeltoTest, AnAbsentRecordReadsAsEmptyUntilRefreshed) {
  Zelto& zelto = make(json::array());  // not an object: the load fails
  LogCapture capture;
  EXPECT_EQ(zelto.prefs(), nullptr);
  EXPECT_FALSE(zelto.shouldZelto());
  EXPECT_EQ(zelto.getTimeIntervalUntilBlock(), -1);
  EXPECT_EQ(zelto.getAllowedBreakTime(), 0);
  zelto.resetTimerInformation();  // saves nothing, breaks nothing

  env_.temp().write(".local/share/Zelto/default.cfg",
                    R"({"lastZeltoDate": "2026-12-09T11:00:00Z"})");
  EXPECT_FALSE(zelto.shouldZelto());  // the bad file is not read again at every field read
  EXPECT_EQ(capture.countStartingWith("Looking up configuration file at"), 0u);
  zelto.refreshPrefs();
  EXPECT_EQ(capture.countStartingWith("Looking up configuration file at"), 1u);
  EXPECT_TRUE(zelto.shouldZelto());
}

TEST_F(ZeltoTest, TimersAreSetUpAndResetAndSaved) {
  Zelto& zelto = make({{"zeltoType", 1}, {"zeltoMustCompleteSession", true}});
  zelto.timerInterval = 1500;
  EXPECT_EQ(zelto.getTimeIntervalUntilUnblock(), 1500);
  zelto.setupTimerInformation();
  EXPECT_EQ(zelto.origTimerInterval, 1500);
  EXPECT_EQ(zelto.timerInterval, 0);
  EXPECT_EQ(stored()["zeltoUnblockDate"],
            JSONValues::formatDate(clock_.now().addingTimeInterval(1500)));

  zelto.isZeltoing = true;
  zelto.resetTimerInformation();
  EXPECT_FALSE(zelto.isZeltoing);
  json saved = stored();
  EXPECT_EQ(saved["zeltoType"], 0);
  EXPECT_FALSE(saved.contains("zeltoUnblockDate"));
  EXPECT_EQ(saved["zeltoMustCompleteSession"], false);

  // Neither timer nor schedule: nothing set up, nothing saved.
  std::filesystem::remove(env_.home() + "/.local/share/Zelto/default.cfg");
  zelto.timerInterval = 60;
  zelto.setupTimerInformation();
  EXPECT_FALSE(std::filesystem::exists(env_.home() + "/.local/share/Zelto/default.cfg"));
}

TEST_F(ZeltoTest, RemainingTimesRoundUp) {
  Zelto& zelto = make({{"zeltoType", 1}, {"zeltoUnblockDate", "2026-12-09T12:00:00.300Z"}},
                      "2026-12-09T12:00:00Z");
  EXPECT_EQ(zelto.getTimeIntervalUntilUnblock(), 1);
  clock_.setNow(at("2026-12-09T12:00:10.800Z"));
  EXPECT_EQ(zelto.getTimeIntervalUntilUnblock(), -10);
  zelto.prefs()->zeltoType = 0;
  EXPECT_EQ(zelto.getTimeIntervalUntilUnblock(), 0);
}

TEST_F(ZeltoTest, TheCountdownCoversTheNextThreeHundredSecondsBothEndsIncluded) {
  Zelto& zelto = make(withSchedules({weekdays("W", 9, 17)}), "2026-12-09T08:55:00+01:00");
  EXPECT_EQ(zelto.getTimeIntervalUntilBlock(), 300);
  EXPECT_EQ(zelto.getCountDownInterval(), 300);
  EXPECT_TRUE(zelto.isCountingDown());
  zelto.isZeltoing = true;
  EXPECT_EQ(zelto.getCountDownInterval(), -1);
  zelto.isZeltoing = false;  // (301 s before: PhaseAgreementTest)
  clock_.setNow(at("2026-12-09T09:00:00+01:00"));
  EXPECT_EQ(zelto.getCountDownInterval(), -1);  // under way: no countdown
  EXPECT_EQ(zelto.getTimeIntervalUntilBlock(), -1);
}

TEST_F(ZeltoTest, BreakAllowance) {
  Zelto& zelto = make(
      {{"breakTotalAllowedInterval", 600},
       {"breakTimeoutInterval", 3600},
       {"sessions", json::array({
                        {{"date", "2026-12-09T11:43:20Z"}, {"interval", 300}, {"zeltoType", 4}},
                        {{"date", "2026-12-09T10:53:20Z"}, {"interval", 200}, {"zeltoType", 4}},
                        {{"date", "2026-12-09T11:50:00Z"}, {"interval", 900}, {"zeltoType", 1}},
                        {{"date", "2026-12-09T11:00:00Z"}, {"interval", 100}, {"zeltoType", 4}},
                    })}},
      "2026-12-09T12:00:00Z");
  EXPECT_EQ(zelto.getZeltoBreaks().size(), 3u);
  // The break 4000 s ago no longer counts; the one exactly the timeout ago still does.
  EXPECT_EQ(zelto.getAllowedBreakTime(), 200);
  EXPECT_EQ(zelto.getTimeIntervalToNextBreak(500), 2600);
  EXPECT_EQ(zelto.getTimeIntervalToNextBreak(700), -1);
  EXPECT_EQ(zelto.getTimeIntervalToNextBreak(200), 0);  // already available
  zelto.prefs()->breakTotalAllowedInterval = 100;
  EXPECT_EQ(zelto.getAllowedBreakTime(), 0);  // never negative

  // The break taken now: none while it lasts, its length once ended.
  zelto.prefs()->lastBreakDate = at("2026-12-09T11:00:00Z");
  EXPECT_EQ(zelto.getActualBreakTimeInterval(), 0);
  zelto.prefs()->lastUnbreakDate = at("2026-12-09T11:05:00Z");
  EXPECT_EQ(zelto.getActualBreakTimeInterval(), 300);
}

// Hardcore mode holds a timer only when the session must be completed (PhaseAgreementTest has
// the locked periods).
TEST_F(ZeltoTest, HardcoreModeAloneDoesNotHoldATimer) {
  Zelto& timer = make({{"zeltoType", 1},
                       {"zeltoUnblockDate", "2026-12-09T13:00:00Z"},
                       {"zeltoHardcoreMode", true}});
  timer.isZeltoing = true;
  EXPECT_TRUE(timer.canHardcoreUnzelto());
}

TEST_F(ZeltoTest, ScheduledBlockingAndItsChain) {
  Zelto& zelto = make(withSchedules({weekdays("AM", 9, 12), weekdays("PM", 12, 17)}),
                      "2026-12-09T10:00:00+01:00");
  EXPECT_TRUE(zelto.isScheduleBlocked());
  ASSERT_EQ(zelto.activeScheduleChain->items().size(), 2u);
  EXPECT_EQ(zelto.getActiveEndSchedule()->toDate(), at("2026-12-09T17:00:00+01:00"));
  EXPECT_EQ(zelto.unblockScheduleDateWithDate(clock_.now()), std::nullopt);  // not zeltoing
  zelto.isZeltoing = true;
  EXPECT_EQ(zelto.unblockScheduleDateWithDate(clock_.now()), at("2026-12-09T17:00:00+01:00"));

  EXPECT_FALSE(zelto.isScheduleBlockedWithDate(at("2026-12-09T17:00:00+01:00")));
  EXPECT_TRUE(zelto.activeScheduleChain->items().empty());
  EXPECT_EQ(zelto.getActiveEndSchedule(), std::nullopt);
}

TEST_F(ZeltoTest, TheScheduleIsRebuiltWhenItsWindowNoLongerFitsOrItsRecordsChange) {
  Zelto& zelto = make(withSchedules({weekdays("W", 9, 17)}));
  EXPECT_TRUE(zelto.scheduleNeedsUpdate(clock_.now()));  // never built
  zelto.updateSchedule();
  EXPECT_FALSE(zelto.scheduleNeedsUpdate(clock_.now()));
  EXPECT_TRUE(zelto.scheduleNeedsUpdate(clock_.now().addingTimeInterval(9 * 86400)));
  // A record switched off (a reload, `zeltoctl stop`) counts at the next question.
  ASSERT_TRUE(zelto.isScheduleBlocked());
  zelto.prefs()->profiles[0].schedules[0].isEnabled = false;
  EXPECT_FALSE(zelto.isScheduleBlocked());
  zelto.prefs()->profiles[0].schedules[0].isEnabled = true;
  // Built again for the same moment, it follows changed records and a changed zone.
  zelto.prefs()->profiles[0].schedules[0].toDate = {.hour = 18, .minute = 0};
  EXPECT_TRUE(zelto.scheduleNeedsUpdate(clock_.now()));
  zelto.updateSchedule();
  EXPECT_EQ(zelto.schedule->items()[0].toDate(), at("2026-12-09T18:00:00+01:00"));
  zelto.prefs()->currentTimeZone = "Asia/Tokyo";
  EXPECT_TRUE(zelto.scheduleNeedsUpdate(clock_.now()));
  zelto.updateSchedule();
  EXPECT_EQ(zelto.schedule->items()[0].toDate(), at("2026-12-09T18:00:00+09:00"));

  // Fewer than two periods: rebuilt on every question.
  Zelto& single = make(withSchedules({weekdays("M", 9, 17, 1)}));
  single.updateSchedule();
  ASSERT_EQ(single.schedule->items().size(), 1u);
  EXPECT_TRUE(single.scheduleNeedsUpdate(clock_.now()));
}

TEST_F(ZeltoTest, DisablingTheActiveChainSwitchesOffItsSchedulesOnce) {
  Zelto& zelto =
      make(withSchedules({weekdays("AM", 9, 12), weekdays("PM", 12, 17), weekdays("EVE", 19, 21)}),
           "2026-12-09T10:00:00+01:00");
  int posted = 0;
  auto token = NotificationCenter::defaultCenter().addObserver(
      "ShouldUpdateScheduleItems", [&](const Notification& n) {
        ++posted;
        EXPECT_EQ(std::any_cast<Zelto*>(n.object), &zelto);
      });
  EXPECT_FALSE(zelto.disableActiveScheduleChain());  // no chain asked for yet
  EXPECT_EQ(posted, 0);

  ASSERT_TRUE(zelto.isScheduleBlocked());
  EXPECT_TRUE(zelto.disableActiveScheduleChain());
  EXPECT_EQ(posted, 1);
  json schedules = stored()["profiles"][0]["schedules"];
  EXPECT_EQ(schedules[0]["isEnabled"], false);
  EXPECT_EQ(schedules[1]["isEnabled"], false);
  EXPECT_EQ(schedules[2]["isEnabled"], true);
  EXPECT_FALSE(zelto.isScheduleBlocked());
  NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(ZeltoTest, EndingARunningPeriod) {
  Zelto& zelto = make({{"zeltoType", 0}, {"isUserInitiated", true}});
  EXPECT_FALSE(zelto.shouldUnzelto());  // not zeltoing
  zelto.isZeltoing = true;
  EXPECT_FALSE(zelto.shouldUnzelto());  // started by the user
  zelto.prefs()->isUserInitiated = false;
  EXPECT_TRUE(zelto.shouldUnzelto());
  zelto.shouldStartTimer = true;
  EXPECT_FALSE(zelto.shouldUnzelto());
  zelto.shouldStartTimer = false;
  zelto.prefs()->disableEagerUnzelto = true;
  EXPECT_FALSE(zelto.shouldUnzelto());
  zelto.prefs()->disableEagerUnzelto = false;

  // A timer whose time ran out ends; one still running doesn't.
  zelto.prefs()->zeltoType = 1;
  zelto.prefs()->zeltoUnblockDate = clock_.now().addingTimeInterval(-1);
  EXPECT_TRUE(zelto.shouldUnzelto());
  zelto.prefs()->zeltoUnblockDate = clock_.now().addingTimeInterval(60);
  EXPECT_FALSE(zelto.shouldUnzelto());
  // Nor does a period while its schedule still blocks.
  Zelto& scheduled = make(withSchedules({weekdays("W", 9, 17)}));
  scheduled.isZeltoing = true;
  EXPECT_FALSE(scheduled.shouldUnzelto());
}

// A locked period, once seen in force, runs to its end whatever becomes of the record that
// started it (edited, replaced, read in another zone) and across restarts; never past its end.
TEST_F(ZeltoTest, ALockedPeriodSeenInForceRunsToItsEnd) {
  const std::string kept = env_.home() + "/.local/state/Zelto/locked-period";
  json lockedSchedule = withSchedules({weekdays("W", 9, 17)});
  lockedSchedule["zeltoHardcoreMode"] = true;
  auto phaseOf = [&](const json& config, const std::string& now, const char* zone = nullptr) {
    Zelto& zelto = make(config, now);  // a new controller: a restart of the program
    zelto.keepLockedPeriodsIn(std::make_unique<HeldLock>(kept));
    if (zone != nullptr) zelto.prefs()->currentTimeZone = zone;
    return BlockingPhase::of(zelto);
  };
  // Nothing kept yet: the record alone decides.
  EXPECT_EQ(phaseOf(json::object(), "2026-12-09T12:00:00+01:00").kind, BlockingPhase::Kind::kOff);
  ASSERT_TRUE(phaseOf(lockedSchedule, "2026-12-09T12:00:00+01:00").locked);
  EXPECT_TRUE(std::filesystem::exists(kept));

  struct Case {
    const char* name;
    json config;
    std::string now;
    const char* zone;
    BlockingPhase::Kind kind;
  };
  using Kind = BlockingPhase::Kind;
  json unlocked = lockedSchedule;
  unlocked["zeltoHardcoreMode"] = false;
  const std::vector<Case> cases = {
      {"file emptied", json::object(), "2026-12-09T12:30:00+01:00", nullptr, Kind::kEnforcing},
      {"lock taken out", unlocked, "2026-12-09T13:00:00+01:00", nullptr, Kind::kEnforcing},
      // 09:00-17:00 in Tokyo is 01:00-09:00 in Berlin: the period in force would have ended.
      {"another zone", lockedSchedule, "2026-12-09T14:00:00+01:00", "Asia/Tokyo", Kind::kEnforcing},
      {"at its end", json::object(), "2026-12-09T17:00:00+01:00", nullptr, Kind::kOff},
      {"a clock set far back", json::object(), "2026-12-07T12:00:00+01:00", nullptr, Kind::kOff},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const BlockingPhase phase = phaseOf(c.config, c.now, c.zone);
    EXPECT_EQ(phase.kind, c.kind);
    EXPECT_EQ(phase.locked, c.kind != Kind::kOff);
    EXPECT_EQ(phase.held, c.kind != Kind::kOff);
    if (c.kind == Kind::kOff) continue;
    EXPECT_EQ(phase.endsAt, at("2026-12-09T17:00:00+01:00"));
    // Every front end is refused a stop.
    EXPECT_FALSE(
        ChangePolicy::decide(*controller_, phase, {.kind = ChangePolicy::Change::Kind::kStop})
            .allowed());
  }

  // A longer locked period seen later moves the end on; a file that can't be read is ignored.
  json lockedTimer = {{"zeltoType", 1},
                      {"zeltoUnblockDate", "2026-12-09T19:00:00+01:00"},
                      {"zeltoHardcoreMode", true},
                      {"zeltoMustCompleteSession", true}};
  ASSERT_TRUE(phaseOf(lockedTimer, "2026-12-09T12:00:00+01:00").locked);
  EXPECT_EQ(phaseOf(json::object(), "2026-12-09T18:00:00+01:00").endsAt,
            at("2026-12-09T19:00:00+01:00"));
  env_.temp().write(".local/state/Zelto/locked-period", "{\"until\": 5");
  EXPECT_EQ(phaseOf(json::object(), "2026-12-09T18:00:00+01:00").kind, Kind::kOff);
}

class ChangePolicyTest : public testing::ControllerFixture {};

// Every kind of change against a free period, a hardcore timer that must be completed (its allow
// list off) and a locked scheduled period (schedule "W", 09:00-17:00, its allow list on).
TEST_F(ChangePolicyTest, ALockedPeriodRefusesExactlyWhatLoosensIt) {
  using enum ChangePolicy::Change::Kind;
  using enum ChangePolicy::Decision::Refusal;
  enum Phase { kFree, kLockedTimer, kLockedSchedule };
  const json sites = {{"blockedWebsites", {"a.com", "+ok.com"}},
                      {"whitelistedWebsites", {"w.com", "-bad.com"}}};
  struct Case {
    ChangePolicy::Change::Kind kind;
    std::string subject;
    bool allowList;
    Phase phase;
    ChangePolicy::Decision::Refusal refusal;
  };
  const std::vector<Case> cases = {
      // (Stops, starts and a break in a session that must be completed: BlockCommandsTest.)
      {kTakeBreak, "", false, kLockedSchedule, kNone},
      {kAddSite, "c.com", false, kLockedTimer, kNone},
      {kAddSite, "+x.com", false, kLockedTimer, kLocked},
      {kAddSite, "-y.com", true, kLockedTimer, kLocked},
      {kAddSite, "+x.com", false, kFree, kNone},
      {kRemoveSite, "a.com", false, kLockedTimer, kLocked},
      {kRemoveSite, "+ok.com", false, kLockedTimer, kNone},
      {kRemoveSite, "", false, kLockedTimer, kNone},
      // The allow list blocks with its "-" patterns only while it is in force.
      {kRemoveSite, "-bad.com", true, kLockedTimer, kNone},
      {kRemoveSite, "-bad.com", true, kLockedSchedule, kLocked},
      {kRemoveSite, "w.com", true, kLockedSchedule, kNone},
      {kSwitchAllowList, "", false, kLockedSchedule, kLocked},
      {kSwitchAllowList, "", false, kFree, kNone},
      {kAddApplication, "/usr/bin/x", false, kLockedTimer, kNone},
      {kChangeApplication, "/usr/bin/x", false, kLockedTimer, kLocked},
      {kRemoveApplication, "/usr/bin/x", false, kLockedTimer, kLocked},
      {kRemoveApplication, "/usr/bin/x", false, kFree, kNone},
      // Only a schedule keeping the locked period going can't be taken away.
      {kRemoveSchedule, "W", false, kLockedSchedule, kLocked},
      {kDisableSchedule, "W", false, kLockedSchedule, kLocked},
      {kRemoveSchedule, "other", false, kLockedSchedule, kNone},
      {kRemoveSchedule, "W", false, kLockedTimer, kNone},
      {kEnableSchedule, "W", false, kLockedSchedule, kNone},
      {kAddSchedule, "", false, kLockedSchedule, kNone},
      {kSwitchLogOff, "", false, kLockedSchedule, kLocked},
      {kSwitchLogOff, "", false, kFree, kNone},
      {kChangePorts, "", false, kLockedSchedule, kLocked},
      {kChangePorts, "", false, kFree, kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "change " << static_cast<int>(c.kind) << " \"" << c.subject
                                      << "\" in phase " << c.phase);
    json profile = sites;
    Zelto* zelto = nullptr;
    if (c.phase == kFree) {
      zelto = &start(profile, {{"zeltoType", 0}, {"lastZeltoDate", "2026-12-09T11:00:00+01:00"}});
    } else if (c.phase == kLockedTimer) {
      zelto = &startLocked(profile);
    } else {
      profile["schedules"] = json::array({weekdays("W", 9, 17)});
      profile["enableWhitelistWebsites"] = true;
      zelto = &start(profile, {{"zeltoHardcoreMode", true}});
    }
    const BlockingPhase phase = BlockingPhase::of(*zelto);
    ASSERT_EQ(phase.locked, c.phase != kFree);
    const ChangePolicy::Decision decision = ChangePolicy::decide(
        *zelto, phase, {.kind = c.kind, .subject = c.subject, .allowList = c.allowList});
    EXPECT_EQ(decision.refusal, c.refusal);
    EXPECT_EQ(decision.allowed(), c.refusal == kNone);
    EXPECT_EQ(decision.reason, decision.allowed() ? "" : phase.lockReason);
  }
}

}  // namespace
}  // namespace zelto
