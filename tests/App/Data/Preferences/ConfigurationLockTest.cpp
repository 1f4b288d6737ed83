// The configuration's lock: one holder at a time between open files (and so between
// processes), re-entrant within a thread, and the controller's read-modify-write under it.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "App/Data/Preferences/ConfigurationLock.h"
#include "Platform/FileLock.h"
#include "Support/ControllerFixture.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;

// (One holder at a time, and a refusal naming the file: ConfigurationLockTest below.)
TEST(FileLockTest, IsPrivateFollowsNoLinkAndNamesAMissingFolder) {
  testing::TempDir dir;
  const std::string path = dir / "default.cfg.lock";
  EXPECT_TRUE(FileLock::acquire(path, 0ms).ok());
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  // A link planted at the lock's name is not followed; a missing folder is named.
  std::filesystem::create_symlink(dir / "elsewhere", dir / "planted.lock");
  EXPECT_FALSE(FileLock::acquire(dir / "planted.lock", 0ms).ok());
  EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere"));
  Result<FileLock> missing = FileLock::acquire(dir / "no/such/folder.lock", 0ms);
  ASSERT_FALSE(missing.ok());
  EXPECT_NE(missing.status().message().find("no/such/folder.lock"), std::string::npos);
}

TEST(ConfigurationLockTest, ReentrantInAThreadExclusiveBetweenThreadsAndFiles) {
  testing::TempDir dir;
  const std::string config = dir / "default.cfg";
  const std::string lockFile = ConfigurationLock::lockPathFor(config);
  auto otherThreadGets = [&](std::chrono::milliseconds wait) {
    return std::async(std::launch::async,
                      [&] { return ConfigurationLock::acquire(config, wait).ok(); })
        .get();
  };
  {
    Result<ConfigurationLock> outer = ConfigurationLock::acquire(config, 0ms);
    ASSERT_TRUE(outer.ok()) << outer.status().message();
    {
      Result<ConfigurationLock> inner = ConfigurationLock::acquire(config, 0ms);
      EXPECT_TRUE(inner.ok());
    }
    // The inner release leaves the lock held, for threads and for other processes alike.
    EXPECT_FALSE(otherThreadGets(30ms));
    EXPECT_FALSE(FileLock::acquire(lockFile, 0ms).ok());
  }
  EXPECT_TRUE(otherThreadGets(0ms));
  EXPECT_TRUE(FileLock::acquire(lockFile, 0ms).ok());

  // Held by another process (an open file of its own): refused after the wait, naming the file.
  {
    Result<FileLock> elsewhere = FileLock::acquire(lockFile, 0ms);
    ASSERT_TRUE(elsewhere.ok());
    Result<ConfigurationLock> refused = ConfigurationLock::acquire(config, 30ms);
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.status().message().find(lockFile), std::string::npos);
  }
  EXPECT_TRUE(otherThreadGets(0ms));  // the failed attempt left nothing held
}

class ZeltoEditTest : public testing::ControllerFixture {
 protected:
  void writeSites(const json& sites) const {
    env_.temp().write(kFile, json{{"profiles", {{{"blockedWebsites", sites}}}}}.dump());
  }
};

TEST_F(ZeltoEditTest, AChangeIsMadeToWhatAnotherWriterSavedMeanwhile) {
  Zelto& zelto = start({{"blockedWebsites", {"a.example"}}});
  ASSERT_NE(zelto.prefs(), nullptr);
  writeSites({"a.example", "theirs.example"});  // another writer, after our load

  auto addOurs = [&] {
    zelto.prefs()->defaultProfile()->blockedWebsites.push_back("ours.example");
    ASSERT_TRUE(zelto.save().ok());
  };
  ASSERT_TRUE(zelto.edit(addOurs).ok());
  EXPECT_EQ(storedProfile()["blockedWebsites"],
            json({"a.example", "theirs.example", "ours.example"}));
}

TEST_F(ZeltoEditTest, NothingRunsWhenTheFileCantBeReadOrTheLockCantBeHad) {
  Zelto& zelto = start({{"blockedWebsites", {"a.example"}}});
  bool ran = false;

  env_.temp().write(kFile, "{\"profiles\": [");  // broken
  EXPECT_FALSE(zelto.edit([&] { ran = true; }).ok());
  EXPECT_EQ(fileText(), "{\"profiles\": [");

  writeSites({"a.example"});
  const std::string path = env_.home() + "/" + kFile;
  Result<FileLock> elsewhere = FileLock::acquire(ConfigurationLock::lockPathFor(path), 0ms);
  ASSERT_TRUE(elsewhere.ok());
  Status locked = zelto.edit([&] { ran = true; }, 30ms);
  EXPECT_FALSE(locked.ok());
  EXPECT_NE(locked.message().find("default.cfg.lock"), std::string::npos);
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace zelto
