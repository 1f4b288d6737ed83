// End to end, as a new user would try it: the agent running from a copy of the bundle with the
// stand-in application, and blocks started and ended with zeltoctl.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "Platform/Linux/LinuxProcessTable.h"
#include "Support/AgentUnderTest.h"

namespace zelto {
namespace {

using testing::AgentUnderTest;
using testing::eventually;
using ::testing::HasSubstr;

constexpr const char* kCheck = "Checking if Zelto needs launching";
constexpr const char* kNoLaunch = "Zelto doesn't need launching";

TEST(ZeltoctlAgentTest, StartedAndStoppedBlocksAreKeptRunningAndLetGo) {
  AgentUnderTest agent;
  agent.start();
  ASSERT_TRUE(eventually([&] { return agent.count(kNoLaunch) >= 1; })) << agent.log();
  EXPECT_TRUE(agent.launchedPids().empty());

  // A timer: the agent sees the saved file and launches the application.
  auto [started, startText] = agent.zeltoctl({"start", "--for", "10m"});
  ASSERT_EQ(started, 0) << startText;
  EXPECT_THAT(startText, HasSubstr("Blocking is on"));
  const auto startedAt = std::chrono::steady_clock::now();
  ASSERT_TRUE(eventually([&] { return agent.launchedPids().size() == 1; })) << agent.log();
  std::printf("launched %lld ms after zeltoctl start returned\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - startedAt)
                                         .count()));

  // Stopped: quitting the application is no longer answered by a launch.
  auto [stopped, stopText] = agent.zeltoctl({"stop"});
  ASSERT_EQ(stopped, 0) << stopText;
  size_t declined = agent.count(kNoLaunch);
  ::kill(agent.launchedPids().back(), SIGKILL);
  ASSERT_TRUE(eventually([&] { return agent.count(kNoLaunch) > declined; })) << agent.log();
  EXPECT_EQ(agent.launchedPids().size(), 1u);

  // Locked: stop is refused, and the killed application comes back.
  auto [locked, lockedText] =
      agent.zeltoctl({"start", "--for", "10m", "--hardcore", "--must-complete"});
  ASSERT_EQ(locked, 0) << lockedText;
  ASSERT_TRUE(eventually([&] { return agent.launchedPids().size() == 2; })) << agent.log();
  auto [refused, refusedText] = agent.zeltoctl({"stop"});
  EXPECT_EQ(refused, 1);
  EXPECT_THAT(refusedText, HasSubstr("locked"));
  EXPECT_TRUE(agent.killStandInAndAwaitRelaunch()) << agent.log();
  EXPECT_GE(agent.count(kCheck), 3u);
}

// An application stopped with a signal enforces nothing: the agent continues it (rather than
// counting it as running), without a second launch.
TEST(ZeltoctlAgentTest, AStoppedApplicationIsContinued) {
  AgentUnderTest agent;
  agent.writeConfig(AgentUnderTest::timerRunning());
  agent.start();
  ASSERT_TRUE(eventually([&] { return agent.launchedPids().size() == 1; })) << agent.log();
  const int pid = agent.launchedPids().back();
  ASSERT_EQ(::kill(pid, SIGSTOP), 0);
  EXPECT_TRUE(eventually([&] { return agent.count("was stopped; continued it") > 0; }))
      << agent.log();
  EXPECT_TRUE(eventually([&] { return !LinuxProcessTable::isStopped(pid); }));
  EXPECT_EQ(agent.launchedPids().size(), 1u);
}

}  // namespace
}  // namespace zelto
