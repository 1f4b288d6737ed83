// End-to-end: the built agent, run from a copy of the built bundle under a fresh home, keeping
// the stand-in main application running while blocking should be on.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "App/Data/Preferences/JSONValues.h"
#include "Platform/Clock.h"
#include "Support/ChildProcess.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

using testing::ChildProcess;
using testing::eventually;
using testing::readWholeFile;

class WatchdogEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_ / "home/.local/share/Zelto");
    std::filesystem::copy(ZELTO_TEST_APP_DIR, app_, std::filesystem::copy_options::recursive);
    // At the debug level a check that finds the application running says so when it ends.
    dir_.write("home/.config/Zelto/Preferences/Quarnix.zelto.agent.plist",
               "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>logLevel</key>"
               "<string>debug</string></dict></plist>");
  }
  void TearDown() override {
    agent_.reset();
    for (int pid : launchedPids()) ::kill(pid, SIGKILL);
  }

  void startAgent() {
    agent_ = std::make_unique<ChildProcess>(
        app_ + "/Contents/MacOS/Agent.app/Contents/MacOS/Agent",
        std::map<std::string, std::optional<std::string>>{{"HOME", dir_ / "home"},
                                                          {"XDG_DATA_HOME", std::nullopt},
                                                          {"XDG_STATE_HOME", std::nullopt},
                                                          {"XDG_CONFIG_HOME", std::nullopt},
                                                          {"ZELTO_STANDIN_LOG", launches_}},
        dir_ / "agent.err");
    ASSERT_TRUE(agent_->started());
  }

  // Replaces the configuration atomically, as the main application does.
  void writeConfig(const std::string& text) {
    std::string temp = dir_.write("config.tmp", text);
    std::filesystem::rename(temp, config_);
  }
  static std::string timerRunning() {
    Date in1h = SystemClock().now().addingTimeInterval(3600);
    return R"({"zeltoType": 1, "zeltoUnblockDate": ")" + JSONValues::formatDate(in1h) + R"("})";
  }

  std::vector<int> launchedPids() {
    std::vector<int> pids;
    std::istringstream lines(readWholeFile(launches_));
    for (int pid; lines >> pid;) pids.push_back(pid);
    return pids;
  }
  bool alive(int pid) { return ::kill(pid, 0) == 0; }
  // Lines of the agent's log holding `text`.
  size_t said(const std::string& text) {
    std::string err = readWholeFile(dir_ / "agent.err");
    size_t n = 0;
    for (size_t at = err.find(text); at != std::string::npos; at = err.find(text, at + 1)) ++n;
    return n;
  }
  size_t checks() { return said("Checking if Zelto needs launching"); }
  // Checks that ended finding the application running (a launch is told before that).
  size_t foundRunning() { return said("Zelto is already running"); }

  testing::TempDir dir_;
  std::string app_ = dir_ / "Zelto.app";
  std::string launches_ = dir_ / "launches";
  std::string config_ = dir_ / "home/.local/share/Zelto/default.cfg";
  std::unique_ptr<ChildProcess> agent_;
};

TEST_F(WatchdogEndToEndTest, KeepsTheApplicationRunningWhileATimerRuns) {
  writeConfig(timerRunning());
  startAgent();
  ASSERT_TRUE(eventually([&] { return launchedPids().size() == 1; }))
      << readWholeFile(dir_ / "agent.err");
  int first = launchedPids()[0];
  EXPECT_TRUE(alive(first));

  // Launches are at least two seconds apart; past that, a killed application comes back at
  // once, not at the next periodic check.
  std::this_thread::sleep_for(std::chrono::milliseconds(2200));
  auto killedAt = std::chrono::steady_clock::now();
  ::kill(first, SIGKILL);
  ASSERT_TRUE(eventually([&] { return launchedPids().size() == 2; }))
      << readWholeFile(dir_ / "agent.err");
  EXPECT_LT(std::chrono::steady_clock::now() - killedAt, std::chrono::seconds(30));
  EXPECT_TRUE(eventually([&] {
    return !std::filesystem::exists("/proc/" + std::to_string(first));
  })) << "the killed application was reaped";

  agent_->signal(SIGTERM);
  auto status = agent_->waitForExit();
  ASSERT_TRUE(status && WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);
  EXPECT_TRUE(alive(launchedPids()[1])) << "stopping the agent leaves the application running";
}

TEST_F(WatchdogEndToEndTest, AnApplicationStartedThroughAScriptIsLaunchedOnce) {
  // The bundle's executable is a script that ends up running a program from outside the bundle.
  dir_.write("Zelto.app/Contents/MacOS/start.sh",
             "#!/bin/sh\necho $$ >> \"$ZELTO_STANDIN_LOG\"\nexec sleep 600\n");
  std::filesystem::permissions(app_ + "/Contents/MacOS/start.sh",
                               std::filesystem::perms::owner_all);
  std::string plist = readWholeFile(app_ + "/Contents/Info.plist");
  plist.replace(plist.find("<string>Zelto</string>"), 23, "<string>start.sh</string>");
  dir_.write("Zelto.app/Contents/Info.plist", plist);

  writeConfig(timerRunning());
  startAgent();
  ASSERT_TRUE(eventually([&] { return launchedPids().size() == 1; }))
      << readWholeFile(dir_ / "agent.err");
  // Checks more than two seconds after the launch find the application running.
  std::this_thread::sleep_for(std::chrono::milliseconds(2200));
  size_t before = foundRunning();
  writeConfig(timerRunning());
  ASSERT_TRUE(eventually([&] { return foundRunning() > before; }))
      << readWholeFile(dir_ / "agent.err");
  EXPECT_EQ(said("Launching Zelto at"), 1u) << readWholeFile(dir_ / "agent.err");
}

TEST_F(WatchdogEndToEndTest, AnApplicationScriptStartedByHandIsSeenRunning) {
  // The bundle's executable is a script that stays the interpreter's (it execs nothing).
  const std::string fifo = dir_ / "never-written";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  dir_.write("Zelto.app/Contents/MacOS/start.sh",
             "#!/bin/sh\necho $$ >> \"$ZELTO_STANDIN_LOG\"\nread line < '" + fifo + "'\n");
  std::filesystem::permissions(app_ + "/Contents/MacOS/start.sh",
                               std::filesystem::perms::owner_all);
  std::string plist = readWholeFile(app_ + "/Contents/Info.plist");
  plist.replace(plist.find("<string>Zelto</string>"), 23, "<string>start.sh</string>");
  dir_.write("Zelto.app/Contents/Info.plist", plist);
  ChildProcess byHand(app_ + "/Contents/MacOS/start.sh", {{"ZELTO_STANDIN_LOG", launches_}},
                      dir_ / "by-hand.err");
  ASSERT_TRUE(eventually([&] { return launchedPids().size() == 1; }));

  writeConfig(timerRunning());
  startAgent();
  // A check at the start, and one more after a change: both end finding it running.
  ASSERT_TRUE(eventually([&] { return foundRunning() >= 1; })) << readWholeFile(dir_ / "agent.err");
  writeConfig(timerRunning());
  ASSERT_TRUE(eventually([&] { return foundRunning() >= 2; })) << readWholeFile(dir_ / "agent.err");
  EXPECT_EQ(said("Launching Zelto at"), 0u) << readWholeFile(dir_ / "agent.err");
  EXPECT_TRUE(byHand.running());
}

TEST_F(WatchdogEndToEndTest, AnotherBundleClaimingTheIdentifierDoesNotStopTheLaunch) {
  // Any program laid out as a bundle with the main application's identifier, running.
  std::string impostor = dir_ / "Impostor.app/Contents/MacOS/sleep";
  dir_.write("Impostor.app/Contents/Info.plist",
             R"(<?xml version="1.0"?><plist version="1.0"><dict><key>CFBundleIdentifier</key>)"
             R"(<string>Quarnix.zelto</string></dict></plist>)");
  std::filesystem::create_directories(dir_ / "Impostor.app/Contents/MacOS");
  std::filesystem::copy_file("/bin/sleep", impostor);
  std::filesystem::permissions(impostor, std::filesystem::perms::owner_all);
  ChildProcess running(impostor, {}, dir_ / "impostor.err", {"600"});
  ASSERT_TRUE(running.started());

  writeConfig(timerRunning());
  startAgent();
  EXPECT_TRUE(eventually([&] { return launchedPids().size() == 1; }))
      << readWholeFile(dir_ / "agent.err");
}

TEST_F(WatchdogEndToEndTest, LaunchesNothingWhileBlockingIsOffAndSeesAReplacedFileAtOnce) {
  writeConfig("{}");
  startAgent();
  ASSERT_TRUE(eventually([&] { return checks() >= 2; })) << readWholeFile(dir_ / "agent.err");
  EXPECT_TRUE(launchedPids().empty());

  writeConfig(timerRunning());
  EXPECT_TRUE(eventually([&] { return launchedPids().size() == 1; }, std::chrono::seconds(20)))
      << readWholeFile(dir_ / "agent.err");
}

TEST_F(WatchdogEndToEndTest, RecoversWhenACorruptFileIsReplacedByAGoodOne) {
  writeConfig("{\"zeltoType\": ");
  startAgent();
  ASSERT_TRUE(eventually([&] { return checks() >= 2; })) << readWholeFile(dir_ / "agent.err");
  EXPECT_TRUE(launchedPids().empty());
  EXPECT_TRUE(agent_->running());

  writeConfig(timerRunning());
  EXPECT_TRUE(eventually([&] { return launchedPids().size() == 1; }))
      << readWholeFile(dir_ / "agent.err");
}

}  // namespace
}  // namespace zelto
