// End-to-end: the built agent, run from a copy of the built bundle under a fresh home, keeping
// the stand-in main application running while blocking should be on.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "Support/AgentUnderTest.h"

namespace zelto {
namespace {

using testing::AgentUnderTest;
using testing::ChildProcess;
using testing::eventually;
using testing::readWholeFile;

constexpr const char* kCheck = "Checking if Zelto needs launching";
constexpr const char* kAnnounce = "Loading watchdog agent";
// Logged at the debug level as a check ends, after any launch it made has been logged.
constexpr const char* kFoundRunning = "Zelto is already running";

class WatchdogEndToEndTest : public ::testing::Test {
 protected:
  bool launched(size_t n) {
    return eventually([&] { return agent_.launchedPids().size() == n; });
  }
  // The agent's log file (besides its standard error).
  std::string logFileText() {
    std::string text;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(
             agent_.dir() / "home/.local/state/Zelto/Logs", ignored))
      text += readWholeFile(entry.path());
    return text;
  }
  // The bundle's executable becomes a script that records its start, then runs `rest`. (The agent
  // logs at the debug level, where a check that finds the application running says so as it ends.)
  std::string scriptedApplication(const std::string& rest) {
    const std::string script =
        agent_.dir().write("Zelto.app/Contents/MacOS/start.sh",
                           "#!/bin/sh\necho $$ >> \"$ZELTO_STANDIN_LOG\"\n" + rest + "\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    std::string plist = readWholeFile(agent_.dir() / "Zelto.app/Contents/Info.plist");
    plist.replace(plist.find("<string>Zelto</string>"), 23, "<string>start.sh</string>");
    agent_.dir().write("Zelto.app/Contents/Info.plist", plist);
    return script;
  }

  AgentUnderTest agent_;
};

TEST_F(WatchdogEndToEndTest, KeepsTheApplicationRunningWhileATimerRunsAndEndsCleanly) {
  agent_.writeConfig(AgentUnderTest::timerRunning());
  agent_.start();
  ASSERT_TRUE(launched(1)) << agent_.log();
  EXPECT_GT(agent_.count(kAnnounce), 0u);
  EXPECT_TRUE(eventually([&] { return logFileText().find(kAnnounce) != std::string::npos; }));

  // A killed application comes back within the bound of the wait (a launch within two seconds
  // of the last is checked again a moment later), not at the periodic check 75 seconds away.
  const int first = agent_.launchedPids()[0];
  ASSERT_TRUE(agent_.killStandInAndAwaitRelaunch()) << agent_.log();
  EXPECT_TRUE(eventually([&] {
    return !std::filesystem::exists("/proc/" + std::to_string(first));
  })) << "the killed application was reaped";

  agent_.process().signal(SIGTERM);
  auto status = agent_.process().waitForExit();
  ASSERT_TRUE(status && WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);
  EXPECT_EQ(::kill(agent_.launchedPids()[1], 0), 0)
      << "stopping the agent leaves the application running";
}

TEST_F(WatchdogEndToEndTest, LogsAtTheLevelZeltoctlStoredAndEndsCleanlyOnSigint) {
  ASSERT_EQ(agent_.zeltoctl({"log-level", "error"}).first, 0);
  agent_.start();
  ASSERT_TRUE(eventually(
      [&] { return std::filesystem::exists(agent_.dir() / "home/.local/state/Zelto/Logs"); }));
  agent_.process().signal(SIGINT);
  auto status = agent_.process().waitForExit();
  ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  // Logging was set up (the folder exists) but an info line is below the "error" level.
  EXPECT_EQ(logFileText().find(kAnnounce), std::string::npos);
  EXPECT_EQ(agent_.count(kAnnounce), 0u);
}

// Started by hand, the script stays the interpreter's (it execs nothing): checks find it running.
// (Launched, a script that execs a program from outside the bundle is still listed as the
// application: LinuxWorkspaceTest.)
TEST_F(WatchdogEndToEndTest, AnApplicationScriptStartedByHandIsSeenRunning) {
  const std::string fifo = agent_.dir() / "never-written";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string script =
      scriptedApplication("[ -n \"$BY_HAND\" ] && read line < '" + fifo + "'\nexec sleep 600");
  ChildProcess byHand(script, {{"ZELTO_STANDIN_LOG", agent_.dir() / "launches"}, {"BY_HAND", "1"}},
                      agent_.dir() / "by-hand.err");
  ASSERT_TRUE(launched(1));

  agent_.writeConfig(AgentUnderTest::timerRunning());
  agent_.start();
  // A check at the start, and one more after a change: both end finding it running.
  ASSERT_TRUE(eventually([&] { return agent_.count(kFoundRunning) >= 1; })) << agent_.log();
  agent_.writeConfig(AgentUnderTest::timerRunning());
  ASSERT_TRUE(eventually([&] { return agent_.count(kFoundRunning) >= 2; })) << agent_.log();
  EXPECT_EQ(agent_.count("Launching Zelto at"), 0u) << agent_.log();
  EXPECT_TRUE(byHand.running());

  // Ended, it is launched.
  byHand.signal(SIGKILL);
  EXPECT_TRUE(launched(2)) << agent_.log();
}

// Soak (the ctest label "soak", with more time): the agent through many stops of the application
// and many rewrites of its configuration, keeping its descriptors and memory flat.
TEST(SoakTest, FiftyStopsAndAThousandRewrites) {
  constexpr int kStops = 50, kRewritesPerStop = 20, kWarmUp = 5;
  AgentUnderTest agent;
  agent.writeConfig(AgentUnderTest::timerRunning());
  agent.start();
  ASSERT_TRUE(eventually([&] { return agent.launchedPids().size() == 1; })) << agent.log();
  auto launchedAt = std::chrono::steady_clock::now();

  long warmMemory = 0;
  size_t warmDescriptors = 0;
  for (int stop = 1; stop <= kStops; ++stop) {
    // The rewrites fill the two seconds that must pass between launches, so that each stop is
    // answered at once rather than by the re-check of a skipped launch.
    for (int i = 0; i < kRewritesPerStop; ++i) {
      agent.writeConfig(AgentUnderTest::timerRunning());
      std::this_thread::sleep_until(launchedAt +
                                    std::chrono::milliseconds(2200) * (i + 1) / kRewritesPerStop);
    }
    ASSERT_TRUE(agent.killStandInAndAwaitRelaunch()) << "stop " << stop << "\n" << agent.log();
    launchedAt = std::chrono::steady_clock::now();

    // Now and then blocking goes off and on again: the latest file is what counts.
    if (stop % 10 == 0) {
      ASSERT_TRUE(agent.turnBlockingOffAndOnAgain()) << "stop " << stop;
      launchedAt = std::chrono::steady_clock::now();
    }
    if (stop == kWarmUp) {
      warmMemory = agent.memoryKilobytes();
      warmDescriptors = agent.openDescriptors();
    }
  }
  const long endMemory = agent.memoryKilobytes();
  const size_t endDescriptors = agent.openDescriptors();
  std::printf("resident memory: %ld kB after warm-up, %ld kB at the end; descriptors: %zu, %zu\n",
              warmMemory, endMemory, warmDescriptors, endDescriptors);
  // A descriptor kept per stop would add one for each stop after the warm-up; a reading taken
  // while a launch or a read is under way may hold a few passing ones.
  EXPECT_LE(endDescriptors, warmDescriptors + 5);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // Sanitizers hold freed memory back on purpose (ASan's quarantine), so memory is judged in
  // the plain build only.
  EXPECT_LT(endMemory - warmMemory, 1024);
#endif
  EXPECT_TRUE(agent.process().running());
}

}  // namespace
}  // namespace zelto
