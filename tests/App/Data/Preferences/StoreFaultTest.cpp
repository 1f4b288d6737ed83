// The store over a file system that fails: saves never damage the file, failed reloads never
// change the record.
#include <gtest/gtest.h>
#include <string.h>

#include <filesystem>

#include "App/Data/Preferences/JSONValues.h"
#include "App/Data/Preferences/ZeltoPreferences.h"
#include "Platform/Linux/FileSystemCalls.h"
#include "Support/ChildProcess.h"
#include "Support/FakeClock.h"
#include "Support/LogCapture.h"
#include "Support/TestEnv.h"

namespace zelto {
namespace {

using json = nlohmann::json;
using testing::LogCapture;
using testing::readWholeFile;

class StoreFaultTest : public ::testing::Test {
 protected:
  StoreFaultTest() { ZeltoPreferences::resetSharedInstanceForTesting(); }
  ~StoreFaultTest() override { ZeltoPreferences::resetSharedInstanceForTesting(); }

  std::string configDir() const { return env_.home() + "/.local/share/Zelto"; }
  std::string configFile() const { return configDir() + "/default.cfg"; }
  std::vector<std::string> configDirEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(configDir())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // A record with a timer running, loaded from its file.
  ZeltoPreferences loadRunningTimer() {
    env_.temp().write(".local/share/Zelto/default.cfg",
                      R"({"zeltoType": 1, "zeltoUnblockDate": "2026-06-01T10:00:00Z",
                          "lastZeltoDate": "2026-06-01T09:00:00Z", "password": "pw"})");
    auto loaded = ZeltoPreferences::loadWithNamespace("default");
    EXPECT_TRUE(loaded.ok());
    return loaded.ok() ? std::move(loaded).value() : ZeltoPreferences();
  }

  static std::function<int(const char*, struct stat*)> failingStat(int err) {
    return [err](const char*, struct stat*) {
      errno = err;
      return -1;
    };
  }

  testing::TestEnv env_{testing::builtAgentBundle()};
  FakeClock clock_{Date::fromSecondsSince1970(1'780'000'000)};
  Env::ScopedOverride clockOverride_{Env::Services{.clock = &clock_}};
};

TEST_F(StoreFaultTest, AFailedSaveLeavesTheOldFileWholeAndNothingBeside) {
  ZeltoPreferences prefs = loadRunningTimer();
  ASSERT_TRUE(prefs.save().ok());
  const std::string saved = readWholeFile(configFile());
  const std::string backup = readWholeFile(configFile() + ".bak");
  prefs.zeltoType = 2;
  prefs.profiles.at(0).blockedWebsites = json(std::vector<std::string>(5000, "example.com"));

  auto fail = [](int err) {
    return [err](auto&&...) {
      errno = err;
      return -1;
    };
  };
  std::vector<std::pair<std::string, std::function<void(FileSystemCalls&)>>> faults{
      {"no space", [&](FileSystemCalls& c) { c.write = fail(ENOSPC); }},
      {"short write, then an I/O error",
       [&](FileSystemCalls& c) {
         c.write = [first = true](int fd, const void* data, size_t size) mutable -> ssize_t {
           if (!std::exchange(first, false)) {
             errno = EIO;
             return -1;
           }
           return ::write(fd, data, size / 3);
         };
       }},
      {"a write that makes no progress",
       [&](FileSystemCalls& c) { c.write = [](int, const void*, size_t) { return ssize_t(0); }; }},
      {"no permission", [&](FileSystemCalls& c) { c.mkostemp = fail(EACCES); }},
      {"flush", [&](FileSystemCalls& c) { c.fsync = fail(EIO); }},
      {"rename", [&](FileSystemCalls& c) { c.rename = fail(EIO); }},
  };
  for (const auto& [what, inject] : faults) {
    FileSystemCalls calls = FileSystemCalls::real();
    inject(calls);
    LocalFileSystem faulty(calls);
    Env::ScopedOverride override{Env::Services{.fileSystem = &faulty}};
    EXPECT_FALSE(prefs.save().ok()) << what;
    EXPECT_FALSE(prefs.saveWithBackup(false).ok()) << what;
    EXPECT_EQ(readWholeFile(configFile()), saved) << what;
    EXPECT_EQ(readWholeFile(configFile() + ".bak"), backup) << what;
    EXPECT_EQ(configDirEntries(), (std::vector<std::string>{"default.cfg", "default.cfg.bak"}))
        << what;
  }

  // Only the backup's write fails: the main file is not touched.
  FileSystemCalls calls = FileSystemCalls::real();
  calls.rename = [](const char* from, const char* to) {
    if (std::string(to).ends_with(".bak")) {
      errno = ENOSPC;
      return -1;
    }
    return ::rename(from, to);
  };
  LocalFileSystem faulty(calls);
  Env::ScopedOverride override{Env::Services{.fileSystem = &faulty}};
  EXPECT_FALSE(prefs.save().ok());
  EXPECT_EQ(readWholeFile(configFile()), saved);
  EXPECT_EQ(configDirEntries(), (std::vector<std::string>{"default.cfg", "default.cfg.bak"}));
}

TEST_F(StoreFaultTest, AReloadThatCantUseTheFileKeepsTheRecordExactly) {
  const std::string file = configFile();
  const std::string unreadable =
      "Unable to load configuration file at " + file + ". Something bad has happened.";
  const std::string garbled = "Error while unserializing file at " + file + ": ";
  struct Case {
    std::string what;
    std::function<void(FileSystemCalls&)> prepare;
    std::string message;  // the start of a line logged
  };
  std::vector<Case> cases{
      {"a folder that can't be searched", [&](FileSystemCalls& c) { c.stat = failingStat(EACCES); },
       unreadable},
      {"a file that can't be opened",
       [&](FileSystemCalls& c) {
         c.open = [](const char*, int, mode_t) {
           errno = EACCES;
           return -1;
         };
       },
       unreadable},
      {"an I/O error",
       [&](FileSystemCalls& c) {
         c.read = [](int, void*, size_t) -> ssize_t {
           errno = EIO;
           return -1;
         };
       },
       unreadable},
      {"a loop of links",
       [&](FileSystemCalls&) {
         std::filesystem::remove(file);
         std::filesystem::create_symlink(file, file);
       },
       unreadable},
      {"a directory",
       [&](FileSystemCalls&) {
         std::filesystem::remove(file);
         std::filesystem::create_directory(file);
       },
       unreadable},
      {"garbage",
       [&](FileSystemCalls&) { env_.temp().write(".local/share/Zelto/default.cfg", "\x01{"); },
       garbled},
      {"a value of the wrong type",
       [&](FileSystemCalls&) {
         env_.temp().write(".local/share/Zelto/default.cfg", R"({"zeltoType": "timer"})");
       },
       "Error while discarding unsaved changes: zeltoType"},
      {"an unparsable date",
       [&](FileSystemCalls&) {
         env_.temp().write(".local/share/Zelto/default.cfg", R"({"zeltoUnblockDate": "soon"})");
       },
       "Error while discarding unsaved changes: zeltoUnblockDate"},
      {"a file gone after it was read", [&](FileSystemCalls&) { std::filesystem::remove(file); },
       "Keeping the last loaded configuration: its file " + file + " is gone"},
  };
  for (const auto& c : cases) {
    ZeltoPreferences prefs = loadRunningTimer();
    prefs.lastTimerTickDate = clock_.now();  // set, not saved: kept as well
    const json before = prefs.toDictionary();
    FileSystemCalls calls = FileSystemCalls::real();
    c.prepare(calls);
    LocalFileSystem fs(calls);
    Env::ScopedOverride override{Env::Services{.fileSystem = &fs}};
    LogCapture capture;
    prefs.discardUnsavedChanges().ignoreError();
    prefs.discardUnsavedChangesIfFileChanged().ignoreError();
    EXPECT_EQ(prefs.toDictionary(), before) << c.what;
    EXPECT_EQ(capture.countStartingWith(c.message), 2u) << c.what;
    EXPECT_EQ(capture.countStartingWith("Configuration file does not exist"),
              c.what.starts_with("a file gone") ? 2u : 0u)
        << c.what;
    std::filesystem::remove_all(file);
  }
}

}  // namespace
}  // namespace zelto
