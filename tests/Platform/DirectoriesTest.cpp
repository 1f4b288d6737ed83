#include <gtest/gtest.h>

#include <map>

#include "Platform/Directories.h"
#include "Platform/FileSystem.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

class DirectoriesTest : public ::testing::Test {
 protected:
  LocalFileSystem fs;
  std::map<std::string, std::string> environment{{"HOME", "/home/ann"}};
  std::optional<std::string> passwordHome = "/var/lib/ann";
  Directories directories{fs,
                          [this](const std::string& name) -> std::optional<std::string> {
                            auto it = environment.find(name);
                            return it == environment.end() ? std::nullopt
                                                           : std::optional(it->second);
                          },
                          [this] { return passwordHome; }};
};

TEST_F(DirectoriesTest, AbsoluteXDGValuesWinOverTheDefaultsUnderHome) {
  EXPECT_EQ(directories.libraryDirectory(), "/home/ann/.local/share/Zelto/Library");
  EXPECT_EQ(directories.cachesDirectory(), "/home/ann/.cache/Zelto");
  EXPECT_EQ(directories.logsDirectory(), "/home/ann/.local/state/Zelto/Logs");
  EXPECT_EQ(directories.preferencesDirectory(), "/home/ann/.config/Zelto/Preferences");
  environment["XDG_DATA_HOME"] = "/data/";
  environment["XDG_CONFIG_HOME"] = "/config";
  EXPECT_EQ(directories.libraryDirectory(), "/data/Zelto/Library");
  EXPECT_EQ(directories.preferencesDirectory(), "/config/Zelto/Preferences");
  // Relative or empty values are ignored.
  environment["XDG_CONFIG_HOME"] = "";
  environment["XDG_STATE_HOME"] = "~/state";
  environment["XDG_CACHE_HOME"] = "relative/cache";
  EXPECT_EQ(directories.preferencesDirectory(), "/home/ann/.config/Zelto/Preferences");
  EXPECT_EQ(directories.logsDirectory(), "/home/ann/.local/state/Zelto/Logs");
  EXPECT_EQ(directories.cachesDirectory(), "/home/ann/.cache/Zelto");
}

TEST_F(DirectoriesTest, DataFoldersAreTheUsersFirstThenTheSystemsWithoutRepeats) {
  using Folders = std::vector<std::string>;
  EXPECT_EQ(directories.dataDirectories(),
            (Folders{"/home/ann/.local/share", "/usr/local/share", "/usr/share"}));
  environment["XDG_DATA_HOME"] = "/data/";
  environment["XDG_DATA_DIRS"] = "/opt/share:relative::/data:/usr/share/";
  EXPECT_EQ(directories.dataDirectories(), (Folders{"/data", "/opt/share", "/usr/share"}));
}

TEST_F(DirectoriesTest, WithoutHomeThePasswordDatabaseGivesItElseThereIsNone) {
  environment["HOME"] = "";
  EXPECT_EQ(directories.preferencesDirectory(), "/var/lib/ann/.config/Zelto/Preferences");
  environment.erase("HOME");
  EXPECT_EQ(directories.cachesDirectory(), "/var/lib/ann/.cache/Zelto");
  passwordHome = std::nullopt;
  EXPECT_EQ(directories.homeDirectory(), std::nullopt);
  EXPECT_EQ(directories.logsDirectory(), std::nullopt);
  environment["XDG_CACHE_HOME"] = "/cache";  // an absolute XDG value still answers on its own
  EXPECT_EQ(directories.cachesDirectory(), "/cache/Zelto");
}

TEST_F(DirectoriesTest, ApplicationSupportIsCreatedOrTheReasonGiven) {
  testing::TempDir dir;
  environment["XDG_DATA_HOME"] = dir / "data/share";
  EXPECT_EQ(directories.applicationSupportDirectory().valueOr(""), dir / "data/share");
  EXPECT_TRUE(fs.isDirectory(dir / "data/share"));

  environment["XDG_DATA_HOME"] = dir.write("file", "x");
  EXPECT_EQ(directories.applicationSupportDirectory().status().message(),
            "Can't create directory " + (dir / "file") + ": a file stands in the way");

  environment.clear();
  passwordHome = std::nullopt;
  EXPECT_EQ(directories.applicationSupportDirectory().status().message(),
            "The home directory of the current user is unknown");
}

}  // namespace
}  // namespace zelto
