#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "Platform/Directories.h"
#include "Platform/FileSystem.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

using ::testing::HasSubstr;
using testing::TempDir;

class DirectoriesTest : public ::testing::Test {
 protected:
  Directories make() {
    return Directories(
        fs,
        [this](const std::string& name) -> std::optional<std::string> {
          auto it = environment.find(name);
          if (it == environment.end()) return std::nullopt;
          return it->second;
        },
        [this] { return passwordHome; });
  }

  LocalFileSystem fs;
  std::map<std::string, std::string> environment{{"HOME", "/home/ann"}};
  std::optional<std::string> passwordHome = "/var/lib/ann";
};

TEST_F(DirectoriesTest, DefaultsLieUnderHome) {
  Directories directories = make();
  EXPECT_EQ(directories.homeDirectory(), "/home/ann");
  EXPECT_EQ(directories.libraryDirectory(), "/home/ann/.local/share/Zelto/Library");
  EXPECT_EQ(directories.cachesDirectory(), "/home/ann/.cache/Zelto");
  EXPECT_EQ(directories.logsDirectory(), "/home/ann/.local/state/Zelto/Logs");
  EXPECT_EQ(directories.preferencesDirectory(), "/home/ann/.config/Zelto/Preferences");
}

TEST_F(DirectoriesTest, AbsoluteXDGValuesAreUsedAndReadAfreshAtEveryCall) {
  Directories directories = make();
  environment["XDG_DATA_HOME"] = "/data/";
  environment["XDG_CACHE_HOME"] = "/cache";
  environment["XDG_STATE_HOME"] = "/state";
  environment["XDG_CONFIG_HOME"] = "/config";
  EXPECT_EQ(directories.libraryDirectory(), "/data/Zelto/Library");
  EXPECT_EQ(directories.cachesDirectory(), "/cache/Zelto");
  EXPECT_EQ(directories.logsDirectory(), "/state/Zelto/Logs");
  EXPECT_EQ(directories.preferencesDirectory(), "/config/Zelto/Preferences");
  environment["XDG_CONFIG_HOME"] = "/elsewhere";
  EXPECT_EQ(directories.preferencesDirectory(), "/elsewhere/Zelto/Preferences");
}

TEST_F(DirectoriesTest, RelativeOrEmptyXDGValuesAreIgnored) {
  Directories directories = make();
  environment["XDG_CACHE_HOME"] = "relative/cache";
  environment["XDG_CONFIG_HOME"] = "";
  environment["XDG_STATE_HOME"] = "~/state";
  EXPECT_EQ(directories.cachesDirectory(), "/home/ann/.cache/Zelto");
  EXPECT_EQ(directories.preferencesDirectory(), "/home/ann/.config/Zelto/Preferences");
  EXPECT_EQ(directories.logsDirectory(), "/home/ann/.local/state/Zelto/Logs");
}

TEST_F(DirectoriesTest, WithoutHomeThePasswordDatabaseGivesIt) {
  Directories directories = make();
  environment.erase("HOME");
  EXPECT_EQ(directories.homeDirectory(), "/var/lib/ann");
  EXPECT_EQ(directories.cachesDirectory(), "/var/lib/ann/.cache/Zelto");
  environment["HOME"] = "";
  EXPECT_EQ(directories.preferencesDirectory(), "/var/lib/ann/.config/Zelto/Preferences");
}

TEST_F(DirectoriesTest, WithoutAnyHomeThereAreNoDirectories) {
  Directories directories = make();
  environment.erase("HOME");
  passwordHome = std::nullopt;
  EXPECT_EQ(directories.homeDirectory(), std::nullopt);
  EXPECT_EQ(directories.libraryDirectory(), std::nullopt);
  EXPECT_EQ(directories.cachesDirectory(), std::nullopt);
  EXPECT_EQ(directories.logsDirectory(), std::nullopt);
  EXPECT_EQ(directories.preferencesDirectory(), std::nullopt);
  std::string error;
  EXPECT_EQ(directories.applicationSupportDirectory(&error), std::nullopt);
  EXPECT_THAT(error, HasSubstr("home"));
  // An absolute XDG value still answers on its own.
  environment["XDG_CACHE_HOME"] = "/cache";
  EXPECT_EQ(directories.cachesDirectory(), "/cache/Zelto");
}

TEST_F(DirectoriesTest, ApplicationSupportDirectoryIsCreated) {
  TempDir temp;
  Directories directories = make();
  environment["HOME"] = temp.path();
  auto support = directories.applicationSupportDirectory();
  ASSERT_EQ(support, temp / ".local/share");
  EXPECT_TRUE(fs.isDirectory(*support));

  // A file where the directory should be is reported, not returned.
  environment["XDG_DATA_HOME"] = temp / "blocked";
  ASSERT_TRUE(fs.writeFileAtomically(temp / "blocked", "x"));
  std::string error;
  EXPECT_EQ(directories.applicationSupportDirectory(&error), std::nullopt);
  EXPECT_THAT(error, HasSubstr("blocked"));
}

}  // namespace
}  // namespace zelto
