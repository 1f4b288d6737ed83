#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "App/Blocking/Helpers/ZeltoUtils.h"
#include "App/Controller/Helpers/Sync/SyncManager.h"
#include "Platform/DefaultsStore.h"
#include "Platform/Env.h"
#include "Platform/UserDefaults.h"
#include "Support/LogCapture.h"
#include "Support/TestEnv.h"

namespace zelto {
namespace {

using ::testing::ElementsAre;
using testing::LogCapture;
using testing::TestEnv;

TEST(ZeltoUtilsTest, ConfigurationLivesInApplicationSupportUnlessOverridden) {
  TestEnv env;
  const std::string support = env.home() + "/.local/share";
  EXPECT_EQ(ZeltoUtils::getApplicationSupportDirectory(), support + "/Zelto");
  EXPECT_EQ(ZeltoUtils::getConfigurationPath("default"), support + "/Zelto/default.cfg");

  env.setVariable("XDG_DATA_HOME", env.home() + "/data");
  EXPECT_EQ(ZeltoUtils::getConfigurationPath("default"), env.home() + "/data/Zelto/default.cfg");

  // The override is used as it stands: nothing appended, no "~" expanded.
  SyncManager::setConfiguredSyncDirectory("~/Sync/zelto");
  EXPECT_EQ(ZeltoUtils::getConfigurationPath("work"), "~/Sync/zelto/work.cfg");

  SyncManager::setConfiguredSyncDirectory("");
  EXPECT_EQ(ZeltoUtils::getConfigurationPath("default"), env.home() + "/data/Zelto/default.cfg");
}

// The application reads the agent's setting, not one of its own: pointing its own at an empty
// folder moves nothing.
TEST(ZeltoUtilsTest, EveryProgramTakesTheAgentsConfigurationDirectory) {
  TestEnv env;
  auto store = std::make_shared<InMemoryDefaultsStore>();
  UserDefaults application("Quarnix.zelto", store);
  Env::ScopedOverride asTheApplication(Env::Services{.standardUserDefaults = &application});
  application.setObject(env.home() + "/empty", "ConfigurationDir");
  ASSERT_TRUE(application.synchronize().ok());
  EXPECT_EQ(SyncManager::getConfiguredSyncDirectory(), std::nullopt);
  ASSERT_TRUE(store->save("Quarnix.zelto.agent", {{"ConfigurationDir", "/srv/zelto"}}).ok());
  EXPECT_EQ(ZeltoUtils::getConfigurationPath("default"), "/srv/zelto/default.cfg");
}

TEST(ZeltoUtilsTest, UnknownHomeMeansNoConfigurationDirectory) {
  TestEnv env;
  env.forgetHome();
  LogCapture capture;
  EXPECT_EQ(ZeltoUtils::getConfigurationPath("default"), std::nullopt);
  EXPECT_TRUE(capture.has(spdlog::level::err,
                          "Error while detecting user application support directory: The home "
                          "directory of the current user is unknown"));

  EXPECT_FALSE(ZeltoUtils::createApplicationSupportDirectoryIfNecessary().ok());
  EXPECT_TRUE(capture.has(spdlog::level::info, "Directory doesn't exist...creating it at (null)"));
  EXPECT_TRUE(capture.has(spdlog::level::err,
                          "Directory didn't exist and error while creating it: no directory path "
                          "is known"));
}

TEST(ZeltoUtilsTest, CreatingDirectories) {
  TestEnv env;
  std::string nested = env.home() + "/a/b/c";
  {
    LogCapture capture;
    EXPECT_TRUE(ZeltoUtils::createDirectoryIfNecessary(nested).ok());
    EXPECT_TRUE(env.fs().isDirectory(nested));
    EXPECT_THAT(capture.texts(), ElementsAre("Directory doesn't exist...creating it at " + nested,
                                             "Created directory"));
  }
  {
    // Anything already there counts, even a plain file.
    LogCapture capture;
    std::string file = env.temp().write("plain", "x");
    EXPECT_TRUE(ZeltoUtils::createDirectoryIfNecessary(nested).ok());
    EXPECT_TRUE(ZeltoUtils::createDirectoryIfNecessary(file).ok());
    EXPECT_TRUE(capture.texts().empty());
  }
  {
    LogCapture capture;
    std::string blocked = env.temp().write("file", "x") + "/sub";
    EXPECT_FALSE(ZeltoUtils::createDirectoryIfNecessary(blocked).ok());
    ASSERT_EQ(capture.lines().size(), 2u);
    EXPECT_EQ(capture.lines()[1].level, spdlog::level::err);
    EXPECT_THAT(capture.lines()[1].text,
                ::testing::StartsWith("Directory didn't exist and error while creating it: "));
  }
  SyncManager::setConfiguredSyncDirectory(env.home() + "/sync/here");
  EXPECT_TRUE(ZeltoUtils::createApplicationSupportDirectoryIfNecessary().ok());
  EXPECT_TRUE(env.fs().isDirectory(env.home() + "/sync/here"));
}

}  // namespace
}  // namespace zelto
