#include <gtest/gtest.h>

#include <filesystem>

#include "App/Controller/Zelto.h"
#include "App/Data/Preferences/JSONValues.h"
#include "App/Data/Preferences/ZeltoPreferences.h"
#include "Support/ChildProcess.h"
#include "Support/FakeClock.h"
#include "Support/FaultyFileSystem.h"
#include "Support/TestEnv.h"

namespace zelto {
namespace {

using json = nlohmann::json;

// Reloads that skip an unchanged file: reads are counted by the file system in force.
class PreferencesReloadTest : public ::testing::Test {
 protected:
  PreferencesReloadTest() { ZeltoPreferences::resetSharedInstanceForTesting(); }
  ~PreferencesReloadTest() override { ZeltoPreferences::resetSharedInstanceForTesting(); }

  std::string configFile() const { return env_.home() + "/.local/share/Zelto/default.cfg"; }
  json stored() const { return json::parse(testing::readWholeFile(configFile())); }
  int reads() const { return fs_.reads(configFile()); }

  // Another process replacing the file the way every writer of it does: a new file renamed
  // over the old one.
  void replaceFile(const json& config) const {
    std::filesystem::rename(env_.temp().write(".local/share/Zelto/new.cfg", config.dump()),
                            configFile());
  }
  // Someone rewriting it in place (a text editor, say).
  void rewriteInPlace(const json& config) const {
    env_.temp().write(".local/share/Zelto/default.cfg", config.dump());
  }

  // A record loaded from a complete file (every key present, as the applications write it).
  ZeltoPreferences loadSaved() {
    auto fresh = ZeltoPreferences::loadWithNamespace("default");
    EXPECT_TRUE(fresh.ok() && fresh->save().ok());
    auto loaded = ZeltoPreferences::loadWithNamespace("default");
    EXPECT_TRUE(loaded.ok());
    return loaded.ok() ? std::move(loaded).value() : ZeltoPreferences();
  }

  testing::TestEnv env_{testing::builtAgentBundle()};
  testing::FaultyFileSystem fs_;
  FakeClock clock_{Date::fromSecondsSince1970(1'780'000'000)};
  Env::ScopedOverride override_{Env::Services{.clock = &clock_, .fileSystem = &fs_}};
};

TEST_F(PreferencesReloadTest, OnlyAChangedFileIsReadAgain) {
  ZeltoPreferences prefs = loadSaved();
  const int loaded = reads();
  ASSERT_TRUE(prefs.discardUnsavedChangesIfFileChanged().ok());
  ASSERT_TRUE(prefs.discardUnsavedChangesIfFileChanged().ok());
  EXPECT_EQ(reads(), loaded);

  json config = stored();
  config["zeltoType"] = 1;
  replaceFile(config);
  ASSERT_TRUE(prefs.discardUnsavedChangesIfFileChanged().ok());
  EXPECT_EQ(prefs.zeltoType, 1);
  EXPECT_EQ(reads(), loaded + 1);

  // In place with the same size: the times tell.
  config["zeltoType"] = 2;
  rewriteInPlace(config);
  std::filesystem::last_write_time(
      configFile(), std::filesystem::last_write_time(configFile()) + std::chrono::seconds(3));
  ASSERT_TRUE(prefs.discardUnsavedChangesIfFileChanged().ok());
  EXPECT_EQ(prefs.zeltoType, 2);
  EXPECT_EQ(reads(), loaded + 2);

  // A profile without identifier gets one made for it, which is no change of the record's own:
  // it stays, and the file is not read again.
  replaceFile({{"profiles", json::array({{{"name", "Work"}}})}});
  ASSERT_TRUE(prefs.discardUnsavedChangesIfFileChanged().ok());
  const std::string made = prefs.profiles.at(0).uniqueID;
  ASSERT_TRUE(prefs.discardUnsavedChangesIfFileChanged().ok());
  EXPECT_EQ(prefs.profiles.at(0).uniqueID, made);
  EXPECT_EQ(reads(), loaded + 3);

  // Another configuration directory is another file.
  env_.defaults().setObject(env_.home() + "/elsewhere", "ConfigurationDir");
  ASSERT_TRUE(prefs.discardUnsavedChangesIfFileChanged().ok());
  EXPECT_TRUE(std::filesystem::is_directory(env_.home() + "/elsewhere"));
}

// What the agent does at each check: a file lacking keys that have defaults (the identifiers
// among them) is loaded once, then neither read again nor written while it stays the same.
TEST_F(PreferencesReloadTest, AFileMissingDefaultedKeysIsReadOnceAcrossChecksAndNeverWritten) {
  const json sparse = {
      {"zeltoType", 2},
      {"profiles", json::array({{{"name", "Work"}, {"blockedWebsites", {"a.com"}}}})}};
  env_.temp().write(".local/share/Zelto/default.cfg", sparse.dump());
  Zelto zelto(clock_);
  ASSERT_NE(zelto.prefs(), nullptr);
  const std::string made = zelto.prefs()->uniqueIdentifier;
  for (int check = 0; check < 10; ++check) zelto.refreshPrefs();
  EXPECT_EQ(reads(), 1);
  EXPECT_EQ(zelto.prefs()->uniqueIdentifier, made);
  EXPECT_EQ(fs_.writes(configFile()), 0);
  EXPECT_EQ(stored(), sparse);
}

TEST_F(PreferencesReloadTest, AnOwnSaveIsTakenBackUnreadAndWhatOthersWriteIsRead) {
  ZeltoPreferences prefs = loadSaved();
  const Date unblock = Date::fromSecondsSince1970(1'780'000'000.1234567);
  prefs.zeltoType = 1;
  prefs.zeltoUnblockDate = unblock;
  ASSERT_TRUE(prefs.save().ok());
  const int saved = reads();
  ASSERT_TRUE(prefs.discardUnsavedChangesIfFileChanged().ok());
  ASSERT_TRUE(prefs.discardUnsavedChangesIfFileChanged().ok());
  EXPECT_EQ(reads(), saved);
  // ... yet the record holds what reading the file gives: the date to the millisecond.
  ASSERT_TRUE(prefs.zeltoUnblockDate);
  EXPECT_NE(*prefs.zeltoUnblockDate, unblock);
  EXPECT_EQ(prefs.zeltoUnblockDate, JSONValues::parseDate(JSONValues::formatDate(unblock)));

  // Another process stores the file right after our save: its file is not taken for ours.
  json theirs = stored();
  theirs["zeltoType"] = 2;
  fs_.afterNextWrite = [&] { replaceFile(theirs); };
  ASSERT_TRUE(prefs.saveWithBackup(false).ok());
  ASSERT_TRUE(prefs.discardUnsavedChangesIfFileChanged().ok());
  EXPECT_EQ(prefs.zeltoType, 2);

  // A failed save, and a change the record makes itself without saving, are discarded at the
  // next look, as a reload always did.
  fs_.failWrites(configFile());
  prefs.zeltoType = 0;
  EXPECT_FALSE(prefs.save().ok());
  ASSERT_TRUE(prefs.discardUnsavedChangesIfFileChanged().ok());
  EXPECT_EQ(prefs.zeltoType, 2);
  ASSERT_TRUE(prefs.resetToDefaults().ok());
  ASSERT_TRUE(prefs.discardUnsavedChangesIfFileChanged().ok());
  EXPECT_EQ(prefs.zeltoType, 2);
}

// A rewrite in place within the file system's clock tick keeps the file's status: a watcher's
// event makes the next reload read it, and an edit (under the lock) compares the bytes.
TEST_F(PreferencesReloadTest, ARewriteKeepingTheStatusIsReadAfterAWatcherEventAndByAnEdit) {
  fs_.coarseTimes = true;  // times to the second, as some file systems keep them
  loadSaved();
  Zelto zelto(clock_);
  ASSERT_NE(zelto.prefs(), nullptr);
  const int unchanged = reads();
  ASSERT_TRUE(zelto.edit([] {}).ok());
  EXPECT_EQ(reads(), unchanged + 1);  // read, not loaded: nothing else changed
  json config = stored();
  // Rewrites in place with the same size until one lands within the same second as the version
  // the record holds; the value written.
  auto rewriteKeepingStatus = [&] {
    int32_t written = 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
      written = zelto.prefs()->zeltoType == 1 ? 2 : 1;
      config["zeltoType"] = written;
      auto held = fs_.inspect(configFile()).toOptional();
      rewriteInPlace(config);
      if (isSameFileVersion(held, fs_.inspect(configFile()).toOptional())) break;
      zelto.refreshPrefs();  // a new second: take it and try again
    }
    zelto.refreshPrefs();
    EXPECT_NE(zelto.prefs()->zeltoType, written);  // the status can't tell
    return written;
  };
  int32_t written = rewriteKeepingStatus();
  zelto.preferencesFileChanged();
  zelto.refreshPrefs();
  EXPECT_EQ(zelto.prefs()->zeltoType, written);

  written = rewriteKeepingStatus();
  ASSERT_TRUE(zelto.edit([] {}).ok());
  EXPECT_EQ(zelto.prefs()->zeltoType, written);
}

}  // namespace
}  // namespace zelto
