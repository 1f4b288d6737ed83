#include <gtest/gtest.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "App/Helpers/LoggingManager.h"
#include "Platform/Log.h"
#include "Support/TestEnv.h"

namespace zelto {
namespace {

using testing::TestEnv;

// A private home whose log folder the tests read; the logger before is put back after.
class LoggingManagerTest : public ::testing::Test {
 protected:
  ~LoggingManagerTest() override { spdlog::set_default_logger(previous_); }

  std::string folder() const { return env_.home() + "/.local/state/Zelto/Logs"; }
  std::string written() const {
    std::stringstream all;
    if (!std::filesystem::is_directory(folder())) return "";
    for (const auto& entry : std::filesystem::directory_iterator(folder())) {
      all << std::ifstream(entry.path()).rdbuf();
    }
    return all.str();
  }

  std::shared_ptr<spdlog::logger> previous_ = spdlog::default_logger();
  TestEnv env_;
};

TEST_F(LoggingManagerTest, NamesMapToLevelsAndBack) {
  // Unknown names, other cases and nothing at all mean "info".
  for (const char* name : {"verbose", "Debug", "INFO", "", " info"}) {
    EXPECT_EQ(LoggingManager::getLogLevelFromName(name), 7u) << name;
  }

  for (const char* name : {"off", "error", "warning", "info", "debug", "all"}) {
    EXPECT_EQ(LoggingManager::getNameFromLogLevel(LoggingManager::getLogLevelFromName(name)), name);
  }
  EXPECT_EQ(LoggingManager::getNameFromLogLevel(31), "all");  // verbose has no name of its own
  EXPECT_EQ(LoggingManager::getNameFromLogLevel(2), "off");   // a mask no name produces
  EXPECT_EQ(LoggingManager::getNameFromLogLevel(LoggingManager::kLogLevelAll - 1), "off");
}

TEST_F(LoggingManagerTest, TheStoredLevelIsReadByName) {
  EXPECT_EQ(LoggingManager::getLogLevel(), 7u);
  env_.defaults().setObject("all", "logLevel");
  EXPECT_EQ(LoggingManager::getLogLevel(), LoggingManager::kLogLevelAll);
  env_.defaults().setObject(42, "logLevel");  // not even a text
  EXPECT_EQ(LoggingManager::getLogLevel(), 7u);
}

TEST_F(LoggingManagerTest, SetupWritesTheLogFileAtTheStoredLevelAndKeepsItUntilTheNextSetup) {
  env_.defaults().setObject("warning", "logLevel");
  LoggingManager::setup();
  log::info("an info line");
  log::warning("a warning line");
  log::error("an error line");
  log::debug("a debug line");
  LoggingManager::shutdown();
  EXPECT_EQ(written().find("an info line"), std::string::npos);
  EXPECT_NE(written().find("a warning line"), std::string::npos);
  EXPECT_NE(written().find("an error line"), std::string::npos);
  EXPECT_EQ(written().find("a debug line"), std::string::npos);

  env_.defaults().setObject("debug", "logLevel");
  LoggingManager::setup();
  log::debug("now debug lines count");
  LoggingManager::shutdown();
  EXPECT_NE(written().find("now debug lines count"), std::string::npos);
}

uint32_t modeOf(const std::string& path) {
  return static_cast<uint32_t>(std::filesystem::symlink_status(path).permissions());
}

TEST_F(LoggingManagerTest, LogFilesAreTheUsersAloneAndNoLinkIsWrittenThrough) {
  const mode_t umask = ::umask(022);
  LoggingManager::setup();
  log::warning("a private line");
  LoggingManager::shutdown();
  EXPECT_EQ(modeOf(folder()), 0700u);
  EXPECT_EQ(modeOf(env_.home() + "/.local/state/Zelto"), 0700u);  // made here, so private too
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder())) {
    files.push_back(entry.path());
  }
  ASSERT_EQ(files.size(), 1u);
  const std::string today = files[0];
  EXPECT_EQ(modeOf(today), 0600u);

  // What an earlier version left readable by all is narrowed.
  std::filesystem::permissions(folder(), std::filesystem::perms(0755));
  std::filesystem::permissions(today, std::filesystem::perms(0644));
  LoggingManager::setup();
  LoggingManager::shutdown();
  EXPECT_EQ(modeOf(folder()), 0700u);
  EXPECT_EQ(modeOf(today), 0600u);

  // A link at the day's name is refused, and what it points to stays untouched.
  const std::string elsewhere = env_.temp().write("elsewhere", "");
  std::filesystem::remove(today);
  std::filesystem::create_symlink(elsewhere, today);
  LoggingManager::setup();
  log::warning("a line for the link");
  LoggingManager::shutdown();
  EXPECT_EQ(std::filesystem::file_size(elsewhere), 0u);
  EXPECT_TRUE(std::filesystem::is_symlink(today));
  ::umask(umask);
}

}  // namespace
}  // namespace zelto
