#include <gtest/gtest.h>

#include <vector>

#include "MainApp/BlockingMonitor.h"
#include "Support/ControllerFixture.h"
#include "Support/FakeRunLoop.h"

namespace zelto {
namespace {

using Phase = BlockingMonitor::Phase;
using json = nlohmann::json;

class BlockingMonitorTest : public testing::ControllerFixture {
 protected:
  BlockingMonitor& monitor(Zelto& zelto, Phase initial = Phase::kOff) {
    monitor_ = std::make_unique<BlockingMonitor>(loop_, zelto, initial, [this](Phase, Phase to) {
      changes_.push_back(BlockingMonitor::phaseName(to));
    });
    monitor_->evaluate();
    return *monitor_;
  }
  // A timer from 11:00 to 13:00.
  static json timer() {
    return {{"zeltoType", 1},
            {"zeltoUnblockDate", "2026-12-09T13:00:00+01:00"},
            {"lastZeltoDate", "2026-12-09T11:00:00+01:00"},
            {"lastUnzeltoDate", "2026-12-09T13:00:00+01:00"}};
  }
  FakeRunLoop loop_{clock_};
  std::unique_ptr<BlockingMonitor> monitor_;
  std::vector<std::string> changes_;
};

TEST_F(BlockingMonitorTest, ATimerStartsOnceAndEndsAtItsMomentWithoutPolling) {
  BlockingMonitor& m = monitor(open(timer()));
  EXPECT_EQ(changes_, (std::vector<std::string>{"blocking"}));
  ASSERT_TRUE(m.nextMoment());
  EXPECT_EQ(JSONValues::formatDate(*m.nextMoment()),
            JSONValues::formatDate(*JSONValues::parseDate("2026-12-09T13:00:00+01:00")));
  EXPECT_EQ(loop_.scheduledTimers(), 1u);
  m.evaluate();  // a file event that changed nothing: no second start
  loop_.advance(3600 - 1);
  EXPECT_EQ(m.phase(), Phase::kEnforcing);
  loop_.advance(1.1);
  EXPECT_EQ(changes_, (std::vector<std::string>{"blocking", "off"}));
  EXPECT_EQ(loop_.scheduledTimers(), 0u);  // nothing foreseen after the end
}

TEST_F(BlockingMonitorTest, ARestartInsideAPeriodIsNoNewStart) {
  monitor(open(timer()), Phase::kEnforcing);
  EXPECT_TRUE(changes_.empty());
}

TEST_F(BlockingMonitorTest, ABreakLiftsBlockingAndItsEndRestoresIt) {
  json config = timer();
  config["zeltoUnbreakDate"] = "2026-12-09T12:05:00+01:00";
  monitor(open(config), Phase::kEnforcing);
  loop_.advance(5 * 60 - 1);
  EXPECT_EQ(changes_, (std::vector<std::string>{"break"}));
  loop_.advance(2);
  EXPECT_EQ(changes_, (std::vector<std::string>{"break", "blocking"}));
}

TEST_F(BlockingMonitorTest, AScheduledPeriodStartsAndEndsOnTime) {
  json config = withSchedules({weekdays("W", 14, 15)});
  config["zeltoType"] = 2;
  BlockingMonitor& m = monitor(open(config));
  EXPECT_TRUE(changes_.empty());
  loop_.advance(2 * 3600 - 1);
  EXPECT_EQ(m.phase(), Phase::kOff);
  loop_.advance(2);
  EXPECT_EQ(m.phase(), Phase::kEnforcing);
  loop_.advance(3600);
  EXPECT_EQ(changes_, (std::vector<std::string>{"blocking", "off"}));
}

TEST_F(BlockingMonitorTest, AClockSetPastTheEndEndsAtTheNextEvaluation) {
  BlockingMonitor& m = monitor(open(timer()));
  clock_.advance(2 * 3600);  // the wall clock jumps; the loop's timer hasn't fired
  m.evaluate();
  EXPECT_EQ(m.phase(), Phase::kOff);
  EXPECT_EQ(BlockingMonitor::phaseNamed(BlockingMonitor::phaseName(Phase::kBreak)), Phase::kBreak);
  EXPECT_EQ(BlockingMonitor::phaseNamed("garbage"), Phase::kOff);
}

}  // namespace
}  // namespace zelto
