// Tests across the programs: the agent, the application and zeltoctl, each reading the core.
#include <gtest/gtest.h>

#include "Agent/App/Watchdog/LaunchDecision.h"
#include "App/Commands/BlockState.h"
#include "App/Commands/StatusReport.h"
#include "App/Controller/BlockingPhase.h"
#include "MainApp/BlockingMonitor.h"
#include "Support/ControllerFixture.h"
#include "Support/FakeRunLoop.h"

namespace zelto {
namespace {

using json = nlohmann::json;

using PhaseAgreementTest = testing::ControllerFixture;

// The agent (launch or wait), the application (what it enforces) and zeltoctl (what it says,
// and whether it refuses to stop) read one phase, and agree on it in every kind of period.
TEST_F(PhaseAgreementTest, EveryProgramReadsTheSamePhase) {
  using Kind = BlockingPhase::Kind;
  struct Case {
    const char* name;
    json config;
    std::string now;
    Kind kind;
    bool locked;
    std::optional<std::string> endsAt;
  };
  const std::string noon = "2026-12-09T12:00:00+01:00", one = "2026-12-09T13:00:00+01:00",
                    five = "2026-12-09T17:00:00+01:00";
  const json timer = {{"zeltoType", 1}, {"zeltoUnblockDate", one}};
  json lockedTimer = timer;
  lockedTimer.update({{"zeltoHardcoreMode", true}, {"zeltoMustCompleteSession", true}});
  json onABreak = lockedTimer;
  onABreak["zeltoUnbreakDate"] = "2026-12-09T12:10:00+01:00";
  const json byHand = {{"zeltoType", 0}, {"lastZeltoDate", "2026-12-09T11:00:00+01:00"}};
  const json schedule = withSchedules({weekdays("W", 9, 17)});
  json lockedSchedule = schedule;
  lockedSchedule["zeltoHardcoreMode"] = true;
  const std::vector<Case> cases = {
      {"nothing", json::object(), noon, Kind::kOff, false, {}},
      {"timer", timer, noon, Kind::kEnforcing, false, one},
      {"locked timer", lockedTimer, noon, Kind::kEnforcing, true, one},
      {"break in a locked timer", onABreak, noon, Kind::kBreak, true, one},
      {"started by hand", byHand, noon, Kind::kEnforcing, false, {}},
      {"schedule in force", schedule, noon, Kind::kEnforcing, false, five},
      {"locked schedule", lockedSchedule, noon, Kind::kEnforcing, true, five},
      {"schedule in 300 s", schedule, "2026-12-09T08:55:00+01:00", Kind::kImminent, false, {}},
      {"schedule in 301 s", schedule, "2026-12-09T08:54:59+01:00", Kind::kOff, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Zelto& zelto = make(c.config, c.now);
    const BlockingPhase phase = BlockingPhase::of(zelto);
    EXPECT_EQ(phase.kind, c.kind);
    EXPECT_EQ(phase.locked, c.locked);
    EXPECT_EQ(phase.endsAt, c.endsAt ? JSONValues::parseDate(*c.endsAt) : std::optional<Date>());
    EXPECT_FALSE(zelto.isZeltoing);  // computing it changes nothing

    EXPECT_EQ(LaunchDecision::decide(zelto).launch, c.kind != Kind::kOff);
    const json status = StatusReport::status(zelto, clock_.now());
    EXPECT_EQ(status["phase"], BlockingPhase::kindName(c.kind));
    EXPECT_EQ(status["watchdog"], c.kind != Kind::kOff ? "launch" : "wait");
    EXPECT_EQ(status["canHardcoreUnzelto"], !c.locked);

    FakeRunLoop loop(clock_);
    BlockingMonitor monitor(loop, zelto, BlockingMonitor::Phase::kOff, nullptr);
    monitor.evaluate();
    EXPECT_EQ(monitor.phase(), c.kind == Kind::kEnforcing ? BlockingMonitor::Phase::kEnforcing
                               : c.kind == Kind::kBreak   ? BlockingMonitor::Phase::kBreak
                                                          : BlockingMonitor::Phase::kOff);
    // zeltoctl's commands refuse what the phase says is locked.
    const BlockState state = BlockState::observe(zelto);
    EXPECT_EQ(state.locked, c.locked);
    EXPECT_EQ(zelto.canHardcoreUnzelto(), !c.locked);
  }
}

}  // namespace
}  // namespace zelto
