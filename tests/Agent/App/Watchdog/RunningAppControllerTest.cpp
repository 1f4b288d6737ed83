#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "Agent/App/Watchdog/RunningAppController.h"
#include "Platform/FakeWorkspace.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Support/RunLoopUntil.h"

namespace zelto {
namespace {

using testing::runLoopUntil;
using Clock = std::chrono::steady_clock;

RunningApplication app(int pid, const std::string& identifier, const std::string& path,
                       bool terminated = false) {
  return RunningApplication{pid, identifier, path, terminated};
}

class RunningAppControllerTest : public ::testing::Test {
 protected:
  void setRunning() {
    workspace.setRunningApplications(
        {app(10, "Quarnix.other", "/Apps/Other.app"), app(11, "Quarnix.zelto", "/Apps/Zelto.app")});
  }
  void setStopped() {
    workspace.setRunningApplications({app(10, "Quarnix.other", "/Apps/Other.app")});
  }

  UvRunLoop loop;
  FakeWorkspace workspace;
};

// --- The running test ------------------------------------------------------------------------

TEST_F(RunningAppControllerTest, RunsWhenOneOfTwoInstancesIsNotTerminated) {
  workspace.setRunningApplications({app(11, "Quarnix.zelto", "/Old/Zelto.app", true),
                                    app(12, "Quarnix.zelto", "/Apps/Zelto.app")});
  RunningAppController controller(workspace, loop, "Quarnix.zelto");
  EXPECT_TRUE(controller.getIsRunning());
  EXPECT_EQ(controller.getRunningApplicationPath(), "/Apps/Zelto.app");
}

TEST_F(RunningAppControllerTest, NotRunningWithoutAnInstanceOrWithOnlyTerminatedOnes) {
  setStopped();
  RunningAppController controller(workspace, loop, "Quarnix.zelto");
  EXPECT_FALSE(controller.getIsRunning());
  EXPECT_EQ(controller.getRunningApplicationPath(), std::nullopt);

  workspace.setRunningApplications({app(11, "Quarnix.zelto", "/Apps/Zelto.app", true)});
  EXPECT_FALSE(controller.getIsRunning());
  EXPECT_EQ(controller.getRunningApplicationPath(), std::nullopt);

  // The identifier is matched exactly, not as a prefix.
  workspace.setRunningApplications({app(12, "Quarnix.zelto.agent", "/Apps/Agent.app")});
  EXPECT_FALSE(controller.getIsRunning());
}

TEST_F(RunningAppControllerTest, AnswersAfreshOnEveryRead) {
  RunningAppController controller(workspace, loop, "Quarnix.zelto");
  setStopped();
  EXPECT_FALSE(controller.getIsRunning());
  setRunning();
  EXPECT_TRUE(controller.getIsRunning());
}

// --- Callbacks -------------------------------------------------------------------------------

TEST_F(RunningAppControllerTest, StoppedCallbackRunsAtOnceAndOnEveryLaterChangeWhileStopped) {
  setStopped();
  RunningAppController controller(workspace, loop, "Quarnix.zelto");
  int stopped = 0;
  controller.waitForStoppedApplication([&] { ++stopped; });
  EXPECT_EQ(stopped, 1);  // before the method returned
  EXPECT_TRUE(controller.hasPerformedSetup());
  EXPECT_EQ(workspace.observerCount(), 1u);

  workspace.notifyChange();
  EXPECT_EQ(stopped, 2);

  setRunning();
  workspace.notifyChange();
  EXPECT_EQ(stopped, 2);

  setStopped();
  workspace.notifyChange();
  EXPECT_EQ(stopped, 3);
}

TEST_F(RunningAppControllerTest, RunningCallbackRunsAboutOneSecondLaterOnTheLoop) {
  setRunning();
  RunningAppController controller(workspace, loop, "Quarnix.zelto");
  int running = 0;
  bool onLoopThread = false;
  auto installed = Clock::now();
  controller.waitForRunningApplication([&] {
    ++running;
    onLoopThread = loop.isLoopThread();
  });
  EXPECT_EQ(running, 0);  // not before the method returned

  ASSERT_TRUE(runLoopUntil(loop, [&] { return running > 0; }));
  double elapsed = std::chrono::duration<double>(Clock::now() - installed).count();
  EXPECT_GE(elapsed, 0.95);
  EXPECT_LT(elapsed, 5.0);
  EXPECT_EQ(running, 1);
  EXPECT_TRUE(onLoopThread);
}

TEST_F(RunningAppControllerTest, EachChangeThatFindsItRunningSchedulesTheRunningCallbackAgain) {
  setRunning();
  RunningAppController controller(workspace, loop, "Quarnix.zelto");
  int running = 0;
  controller.waitForRunningApplication([&] { ++running; });
  workspace.notifyChange();
  ASSERT_TRUE(runLoopUntil(loop, [&] { return running == 2; }));
}

TEST_F(RunningAppControllerTest, WithBothCallbacksAndTheApplicationRunningOnlyRunningIsScheduled) {
  setRunning();
  RunningAppController controller(workspace, loop, "Quarnix.zelto");
  int stopped = 0;
  int running = 0;
  controller.waitForStoppedApplication([&] { ++stopped; });
  controller.waitForRunningApplication([&] { ++running; });
  workspace.notifyChange();
  ASSERT_TRUE(runLoopUntil(loop, [&] { return running == 2; }));
  EXPECT_EQ(stopped, 0);
}

TEST_F(RunningAppControllerTest, TheCallbackCurrentWhenTheTimerFiresIsTheOneCalled) {
  setRunning();
  RunningAppController controller(workspace, loop, "Quarnix.zelto");
  RunningAppController witness(workspace, loop, "Quarnix.zelto");
  int first = 0, second = 0, witnessed = 0;
  controller.waitForRunningApplication([&] { ++first; });   // schedules one call
  controller.waitForRunningApplication([&] { ++second; });  // schedules another
  witness.waitForRunningApplication([&] { ++witnessed; });  // due just after both
  ASSERT_TRUE(runLoopUntil(loop, [&] { return witnessed > 0; }));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 2);

  // A callback cleared meanwhile: the pending call finds nothing to call.
  controller.waitForRunningApplication([&] { ++first; });
  controller.waitForRunningApplication(nullptr);
  witness.waitForRunningApplication([&] { ++witnessed; });
  ASSERT_TRUE(runLoopUntil(loop, [&] { return witnessed == 2; }));
  EXPECT_EQ(first, 0);
}

// --- Observation and destruction -------------------------------------------------------------

TEST_F(RunningAppControllerTest, SetupObservesOnceEvenWhenCalledAgain) {
  setStopped();
  RunningAppController controller(workspace, loop, "Quarnix.zelto");
  EXPECT_FALSE(controller.hasPerformedSetup());
  EXPECT_EQ(workspace.observerCount(), 0u);
  int stopped = 0;
  controller.setup();
  controller.setup();
  controller.waitForStoppedApplication([&] { ++stopped; });
  EXPECT_EQ(workspace.observerCount(), 1u);
  stopped = 0;
  workspace.notifyChange();
  EXPECT_EQ(stopped, 1);
}

TEST_F(RunningAppControllerTest, DestroyedBeforeItsFirstCheck) {
  auto controller = std::make_unique<RunningAppController>(workspace, loop, "Quarnix.zelto");
  controller.reset();
  EXPECT_EQ(workspace.observerCount(), 0u);
  workspace.notifyChange();  // nothing left to call
}

TEST_F(RunningAppControllerTest, DestructionEndsTheObservation) {
  setStopped();
  int stopped = 0;
  auto controller = std::make_unique<RunningAppController>(workspace, loop, "Quarnix.zelto");
  controller->waitForStoppedApplication([&] { ++stopped; });
  controller.reset();
  EXPECT_EQ(workspace.observerCount(), 0u);
  workspace.notifyChange();
  EXPECT_EQ(stopped, 1);
}

TEST_F(RunningAppControllerTest, DestroyedWithARunningCallbackPendingNothingIsCalled) {
  setRunning();
  bool calledAfterDestruction = false;
  auto controller = std::make_unique<RunningAppController>(workspace, loop, "Quarnix.zelto");
  controller->waitForRunningApplication([&] { calledAfterDestruction = true; });
  // A second controller scheduled just after: once its callback has run, the first one's
  // would have too.
  RunningAppController witness(workspace, loop, "Quarnix.zelto");
  bool witnessed = false;
  witness.waitForRunningApplication([&] { witnessed = true; });
  controller.reset();
  ASSERT_TRUE(runLoopUntil(loop, [&] { return witnessed; }));
  EXPECT_FALSE(calledAfterDestruction);
}

TEST_F(RunningAppControllerTest, AStoppedCallbackMayDestroyItsController) {
  setStopped();
  auto controller = std::make_unique<RunningAppController>(workspace, loop, "Quarnix.zelto");
  int stopped = 0;
  controller->setup();
  RunningAppController other(workspace, loop, "Quarnix.zelto");
  other.waitForStoppedApplication([&] { ++stopped; });
  controller->waitForStoppedApplication([&] {
    if (controller) controller.reset();
  });
  EXPECT_EQ(controller, nullptr);
  stopped = 0;
  workspace.notifyChange();  // the destroyed controller's observer is gone; the other still runs
  EXPECT_EQ(stopped, 1);
}

}  // namespace
}  // namespace zelto
