// End-to-end: the built programs, run from a copy of the built bundle under a fresh home.
#include <gtest/gtest.h>

#include <filesystem>

#include "Support/ChildProcess.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

using testing::ChildProcess;
using testing::eventually;
using testing::readWholeFile;
using testing::TempDir;

class AgentProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(home_ / "home");
    std::filesystem::copy(ZELTO_TEST_APP_DIR, app_, std::filesystem::copy_options::recursive);
  }

  std::map<std::string, std::optional<std::string>> environment() {
    return {{"HOME", home_ / "home"},
            {"XDG_DATA_HOME", std::nullopt},
            {"XDG_STATE_HOME", std::nullopt},
            {"XDG_CONFIG_HOME", std::nullopt},
            {"XDG_CACHE_HOME", std::nullopt}};
  }

  std::string logFileText() {
    std::string directory = home_ / "home/.local/state/Zelto/Logs";
    std::string text;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(directory, ignored)) {
      text += readWholeFile(entry.path());
    }
    return text;
  }

  TempDir home_;
  std::string app_ = home_ / "Zelto.app";
  std::string agent_ = app_ + "/Contents/MacOS/Agent.app/Contents/MacOS/Agent";
};

TEST_F(AgentProcessTest, AnnouncesItselfOnTheConsoleAndInTheLogFileAndExitsCleanlyOnASignal) {
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    std::string stderrPath = home_ / ("agent" + std::to_string(signal) + ".err");
    std::filesystem::remove_all(home_ / "home/.local/state");
    ChildProcess agent(agent_, environment(), stderrPath);
    ASSERT_TRUE(agent.started());

    const std::string line = "Loading watchdog agent";
    EXPECT_TRUE(eventually([&] {
      return readWholeFile(stderrPath).find(line) != std::string::npos;
    })) << readWholeFile(stderrPath);
    EXPECT_TRUE(eventually([&] { return logFileText().find(line) != std::string::npos; }));
    EXPECT_TRUE(agent.running());

    agent.signal(signal);
    auto status = agent.waitForExit();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  }
}

TEST_F(AgentProcessTest, LogsAtTheLevelZeltoctlStored) {
  ChildProcess zeltoctl(app_ + "/Contents/MacOS/zeltoctl", environment(), home_ / "ctl.err",
                        {"log-level", "error"});
  auto stored = zeltoctl.waitForExit();
  ASSERT_TRUE(stored && WIFEXITED(*stored) && WEXITSTATUS(*stored) == 0)
      << readWholeFile(home_ / "ctl.err");

  ChildProcess agent(agent_, environment(), home_ / "agent.err");
  ASSERT_TRUE(
      eventually([&] { return std::filesystem::exists(home_ / "home/.local/state/Zelto/Logs"); }));
  agent.signal(SIGTERM);
  ASSERT_TRUE(agent.waitForExit().has_value());
  // Logging was set up (the file exists) but an info line is below the "error" level.
  EXPECT_EQ(logFileText().find("Loading watchdog agent"), std::string::npos);
  EXPECT_EQ(readWholeFile(home_ / "agent.err").find("Loading watchdog agent"), std::string::npos);
}

TEST_F(AgentProcessTest, TheStandInRecordsEachStartAndStopsOnSigterm) {
  std::string launches = home_ / "launches";
  auto env = environment();
  env["ZELTO_STANDIN_LOG"] = launches;
  ChildProcess first(app_ + "/Contents/MacOS/Zelto", env, home_ / "first.err");
  ChildProcess second(app_ + "/Contents/MacOS/Zelto", env, home_ / "second.err");

  EXPECT_TRUE(eventually([&] {
    std::string text = readWholeFile(launches);
    return text.find(std::to_string(first.pid()) + "\n") != std::string::npos &&
           text.find(std::to_string(second.pid()) + "\n") != std::string::npos;
  })) << readWholeFile(launches);

  for (ChildProcess* standIn : {&first, &second}) {
    standIn->signal(SIGTERM);
    auto status = standIn->waitForExit();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  }
}

}  // namespace
}  // namespace zelto
