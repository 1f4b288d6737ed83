#include <gtest/gtest.h>

#include <memory>

#include "Agent/App/Watchdog/RunningAppController.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Support/FakeRunLoop.h"
#include "Support/FakeWorkspace.h"
#include "Support/RunLoopUntil.h"

namespace zelto {
namespace {

using testing::runLoopUntil;

class RunningAppControllerTest : public ::testing::Test {
 protected:
  void setRunning() {
    workspace.setRunningApplications(
        {{10, "Quarnix.other", "/Apps/Other.app"}, {11, "Quarnix.zelto", "/Apps/Zelto.app"}});
  }
  void setStopped() {
    workspace.setRunningApplications({{10, "Quarnix.other", "/Apps/Other.app"}});
  }

  UvRunLoop loop;
  FakeWorkspace workspace;
};

// --- The running test ------------------------------------------------------------------------

TEST_F(RunningAppControllerTest, RunsWhileAnInstanceWithTheExactIdentifierIsNotTerminated) {
  workspace.setRunningApplications(
      {{11, "Quarnix.zelto", "/Old/Zelto.app", true}, {12, "Quarnix.zelto", "/Apps/Zelto.app"}});
  RunningAppController controller(workspace, loop, "Quarnix.zelto");
  EXPECT_TRUE(controller.getIsRunning());
  EXPECT_EQ(controller.getRunningApplicationPath(), "/Apps/Zelto.app");
  setStopped();
  EXPECT_FALSE(controller.getIsRunning());
  EXPECT_EQ(controller.getRunningApplicationPath(), std::nullopt);
  // The identifier is matched exactly, not as a prefix.
  workspace.setRunningApplications({{12, "Quarnix.zelto.agent", "/Apps/Agent.app"}});
  EXPECT_FALSE(controller.getIsRunning());

  // With a bundle given, another bundle claiming the identifier (a copy elsewhere, or one posing
  // as it) doesn't count.
  workspace.setRunningApplications(
      {{11, "Quarnix.zelto", "/Elsewhere/Zelto.app"}, {12, "Quarnix.other", "/Apps/Zelto.app"}});
  RunningAppController bundled(workspace, loop, "Quarnix.zelto", "/Apps/Zelto.app/");
  EXPECT_FALSE(bundled.getIsRunning());
  workspace.setRunningApplications(
      {{11, "Quarnix.zelto", "/Elsewhere/Zelto.app"}, {13, "Quarnix.zelto", "/Apps/Zelto.app"}});
  EXPECT_TRUE(bundled.getIsRunning());
  EXPECT_EQ(bundled.getRunningApplicationPath(), "/Apps/Zelto.app");
}

// --- Callbacks -------------------------------------------------------------------------------

TEST_F(RunningAppControllerTest,
       StoppedCallbackRunsAtOnceAndOnEveryChangeWhileStoppedUntilDestroyed) {
  setStopped();
  auto controller = std::make_unique<RunningAppController>(workspace, loop, "Quarnix.zelto");
  int stopped = 0;
  controller->setup();
  controller->setup();
  controller->waitForStoppedApplication([&] { ++stopped; });
  EXPECT_EQ(stopped, 1);                     // before the method returned
  EXPECT_EQ(workspace.observerCount(), 1u);  // observed once, however often set up

  setRunning();
  workspace.notifyChange();
  EXPECT_EQ(stopped, 1);
  setStopped();
  workspace.notifyChange();
  EXPECT_EQ(stopped, 2);

  controller.reset();
  EXPECT_EQ(workspace.observerCount(), 0u);
  workspace.notifyChange();
  EXPECT_EQ(stopped, 2);
}

// With both callbacks and the application running, only the running one is scheduled.
TEST_F(RunningAppControllerTest, RunningCallbackRunsOneSecondLaterOnTheLoop) {
  setRunning();
  FakeClock clock;
  FakeRunLoop simulated(clock);
  RunningAppController controller(workspace, simulated, "Quarnix.zelto");
  int stopped = 0;
  int running = 0;
  controller.waitForStoppedApplication([&] { ++stopped; });
  controller.waitForRunningApplication([&] { ++running; });
  EXPECT_EQ(running, 0);  // not before the method returned
  // Once per check.
  for (auto [seconds, calls] : {std::pair(0.999, 0), {0.001, 1}, {10.0, 1}}) {
    simulated.advance(seconds);
    EXPECT_EQ(running, calls) << seconds;
  }
  workspace.notifyChange();
  simulated.advance(1);
  EXPECT_EQ(running, 2);
  EXPECT_EQ(stopped, 0);
}

TEST_F(RunningAppControllerTest, DestroyedWithARunningCallbackPendingNothingIsCalled) {
  setRunning();
  bool calledAfterDestruction = false;
  auto controller = std::make_unique<RunningAppController>(workspace, loop, "Quarnix.zelto");
  controller->waitForRunningApplication([&] { calledAfterDestruction = true; });
  // Scheduled just after: once this one has run, the first one's would have too.
  RunningAppController witness(workspace, loop, "Quarnix.zelto");
  bool witnessed = false;
  witness.waitForRunningApplication([&] { witnessed = true; });
  controller.reset();
  ASSERT_TRUE(runLoopUntil(loop, [&] { return witnessed; }));
  EXPECT_FALSE(calledAfterDestruction);
}

}  // namespace
}  // namespace zelto
