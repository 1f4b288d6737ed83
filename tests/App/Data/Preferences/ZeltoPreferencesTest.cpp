// The configuration store: loads, saves and reloads of the record over a private home, and files
// and file systems that fail or are made to hurt. Saves never damage the file; failed reloads
// never change the record; no file may end the process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "App/Controller/Helpers/Sync/SyncManager.h"
#include "App/Controller/Zelto.h"
#include "App/Data/Preferences/JSONValues.h"
#include "App/Data/Preferences/ZeltoPreferences.h"
#include "App/Data/ZeltoDefaults.h"
#include "Platform/Linux/FileSystemCalls.h"
#include "Support/ChildProcess.h"
#include "Support/FakeClock.h"
#include "Support/FaultyFileSystem.h"
#include "Support/LogCapture.h"
#include "Support/NestedText.h"
#include "Support/TestEnv.h"

namespace zelto {
namespace {

using json = nlohmann::json;
using ::testing::Contains;
using ::testing::HasSubstr;
using testing::LogCapture;
using testing::nested;
using ::testing::Not;
using testing::readWholeFile;
using ::testing::StartsWith;
using testing::TestEnv;

// A private home with the built bundle's resources and a fixed clock; the shared record is
// forgotten before and after.
class ZeltoPreferencesTest : public ::testing::Test {
 protected:
  ZeltoPreferencesTest() { ZeltoPreferences::resetSharedInstanceForTesting(); }
  ~ZeltoPreferencesTest() override { ZeltoPreferences::resetSharedInstanceForTesting(); }

  std::string configDir() const { return env_.home() + "/.local/share/Zelto"; }
  std::string configFile() const { return configDir() + "/default.cfg"; }
  std::string writeConfig(const std::string& text) const {
    return env_.temp().write(".local/share/Zelto/default.cfg", text);
  }
  json storedConfig() const { return json::parse(readWholeFile(configFile())); }
  std::string lastGoodFile() const {
    return env_.home() + "/.local/state/Zelto/LastGood/default.cfg";
  }
  // The line logged for a file that can't be read.
  std::string unusable() const {
    return "Unable to load configuration file at " + configFile() + ". Something bad has happened.";
  }
  std::vector<std::string> configDirEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(configDir())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  Result<ZeltoPreferences> load() { return ZeltoPreferences::loadWithNamespace("default"); }
  // A load that must succeed (or the test fails, going on with an empty record).
  ZeltoPreferences loaded() {
    auto prefs = load();
    EXPECT_TRUE(prefs.ok()) << prefs.status().message();
    return prefs.ok() ? std::move(prefs).value() : ZeltoPreferences();
  }
  // A record with a timer running, loaded from its file.
  ZeltoPreferences loadRunningTimer() {
    writeConfig(R"({"zeltoType": 1, "zeltoUnblockDate": "2026-06-01T10:00:00Z",
                    "lastZeltoDate": "2026-06-01T09:00:00Z", "password": "pw"})");
    return loaded();
  }

  TestEnv env_{testing::builtAgentBundle()};
  FakeClock clock_{Date::fromSecondsSince1970(1'780'000'000)};
  Env::ScopedOverride clockOverride_{Env::Services{.clock = &clock_}};
};

using StoreFaultTest = ZeltoPreferencesTest;
using ConfigurationBoundsTest = ZeltoPreferencesTest;

TEST_F(ZeltoPreferencesTest, NoFileLoadsDefaultsWithOneDefaultProfileAndWritesNothing) {
  LogCapture capture;
  ZeltoPreferences prefs = loaded();
  EXPECT_TRUE(capture.has(spdlog::level::info, "Configuration file does not exist at " +
                                                   configFile() + "...starting from defaults"));
  EXPECT_FALSE(std::filesystem::exists(configFile()));
  ASSERT_EQ(prefs.profiles.size(), 1u);
  const auto& profile = prefs.profiles[0];
  EXPECT_EQ(profile.name, "Default");
  EXPECT_EQ(profile.blockedWebsites, json(ZeltoDefaults::getDefaultHosts()));
  EXPECT_EQ(profile.quotes.size(), ZeltoDefaults::getDefaultQuotes().size());
  EXPECT_EQ(profile.zeltoScript, ZeltoDefaults::getDefaultZeltoScript());
  EXPECT_TRUE(prefs.sessions.empty());
}

TEST_F(ZeltoPreferencesTest, EveryFileTheStoreAcceptsSurvivesSaveAndLoadUnchanged) {
  writeConfig(R"({"zeltoType": 1, "zeltoUnblockDate": "2026-12-06T10:00:00.250Z",
      "httpPort": 9000, "isUserInitiated": true, "password": "pw", "unknownKey": 5,
      "maxExpectedBreakInterval": 2.5, "numberOfTimesRun": "12",
      "profiles": [{"name": "Work", "blockedWebsites": ["a.com"], "schedules": [
         {"isEnabled": true, "scheduleType": 8, "fromDate": {"hour": 9}, "toDate": {"hour": 17},
          "sortIndex": 3, "uniqueID": "S1"}],
         "quotes": [{"quote": "q"}], "timers": {"interval": 600}}],
      "sessions": [{"date": "2026-01-01T00:00:00Z", "interval": 300, "zeltoType": 4}]})");
  ZeltoPreferences first = loaded();
  EXPECT_EQ(first.numberOfTimesRun, 12u);
  EXPECT_EQ(first.profiles.at(0).timers.interval, 600);
  ASSERT_TRUE(first.save().ok());  // without "unknownKey" (RecordMappingTest)
  EXPECT_EQ(loaded().toDictionary(), first.toDictionary());
  EXPECT_EQ(storedConfig(), first.toDictionary());
}

// A file that can't be used, or none, after a good one was loaded or saved: a program starting
// then loads the last good configuration instead of the defaults (or nothing).
TEST_F(ZeltoPreferencesTest, AStartWithoutAUsableFileTakesTheLastGoodConfiguration) {
  const std::string timer = R"({"zeltoType": 1, "zeltoUnblockDate": "2026-12-06T10:00:00Z"})";
  struct Case {
    const char* name;
    std::function<void()> spoil;
  };
  const std::vector<Case> cases = {
      {"garbage", [&] { writeConfig("{\"zeltoType\": "); }},
      {"deleted", [&] { std::filesystem::remove(configFile()); }},
      {"no object", [&] { writeConfig("[1]"); }},
      {"unreadable folder",
       [&] { std::filesystem::permissions(configDir(), std::filesystem::perms::none); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(env_.home() + "/.local/state");
    writeConfig(timer);
    ASSERT_TRUE(load());  // remembered, private
    EXPECT_EQ(std::filesystem::status(lastGoodFile()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    c.spoil();
    if (::geteuid() == 0 && std::string(c.name) == "unreadable folder") continue;  // root reads on
    LogCapture capture;
    auto prefs = load();
    std::filesystem::permissions(configDir(), std::filesystem::perms::owner_all);
    ASSERT_TRUE(prefs);
    EXPECT_EQ(prefs->zeltoType, 1);
    EXPECT_EQ(prefs->zeltoUnblockDate, JSONValues::parseDate("2026-12-06T10:00:00Z"));
    EXPECT_THAT(capture.texts(), Contains(HasSubstr("using the last good configuration, kept at " +
                                                    lastGoodFile())));
  }

  // A file that parses but doesn't fit the record (a session without its required interval) is
  // no good configuration: the copy stays.
  writeConfig(R"({"sessions": [{"zeltoType": 4}]})");
  EXPECT_EQ(loaded().zeltoType, 1);
  // A save and a reload are remembered too.
  writeConfig(R"({"zeltoType": 0})");
  ZeltoPreferences prefs = loaded();
  prefs.zeltoType = 2;
  ASSERT_TRUE(prefs.save().ok());
  EXPECT_EQ(json::parse(readWholeFile(lastGoodFile()))["zeltoType"], 2);
  writeConfig(R"({"zeltoType": 3})");
  ASSERT_TRUE(prefs.discardUnsavedChanges().ok());
  EXPECT_EQ(json::parse(readWholeFile(lastGoodFile()))["zeltoType"], 3);

  // Neither a file nor a copy: the defaults, as at a first start.
  std::filesystem::remove(configFile());
  std::filesystem::remove(lastGoodFile());
  EXPECT_EQ(loaded().zeltoType, 0);
}

TEST_F(ZeltoPreferencesTest, ReloadEmptiesExactlyTheVolatileFieldsAndKeepsTheRest) {
  writeConfig(R"({"zeltoType": 1})");
  ZeltoPreferences prefs = loaded();
  Date someDate = Date::fromSecondsSince1970(1'700'000'000);
  for (auto* date :
       {&prefs.lastZeltoDate, &prefs.lastUnzeltoDate, &prefs.lastBreakDate, &prefs.lastUnbreakDate,
        &prefs.lastTimerTickDate, &prefs.zeltoUnblockDate, &prefs.zeltoUnbreakDate}) {
    *date = someDate;
  }
  prefs.password = "secret";
  prefs.httpPort = 1;
  prefs.websocketPort = 2;
  prefs.isUserInitiated = true;
  prefs.zeltoHardcoreMode = true;  // absent from the file: kept
  prefs.zeltoType = 2;             // present in the file: replaced
  prefs.currentTimeZone = "Europe/Berlin";

  ASSERT_TRUE(prefs.discardUnsavedChanges().ok());
  EXPECT_FALSE(prefs.lastZeltoDate || prefs.lastUnzeltoDate || prefs.lastBreakDate ||
               prefs.lastUnbreakDate || prefs.lastTimerTickDate || prefs.zeltoUnblockDate ||
               prefs.zeltoUnbreakDate || prefs.password || prefs.httpPort || prefs.websocketPort);
  EXPECT_EQ(prefs.isUserInitiated, true);
  EXPECT_TRUE(prefs.zeltoHardcoreMode);
  EXPECT_EQ(prefs.zeltoType, 1);
  EXPECT_EQ(prefs.currentTimeZone, "Europe/Berlin");

  // A file holding the dates restores them; a file gone since keeps the record as it is
  // (StoreFaultTest), and the reload succeeds.
  writeConfig(R"({"zeltoUnblockDate": "2026-12-06T10:00:00Z"})");
  ASSERT_TRUE(prefs.discardUnsavedChanges().ok());
  EXPECT_EQ(prefs.zeltoUnblockDate, JSONValues::parseDate("2026-12-06T10:00:00Z"));
  std::filesystem::remove(configFile());
  EXPECT_TRUE(prefs.discardUnsavedChanges().ok());

  // A record that never knew a file (nor a copy of one) still takes a reload without one as
  // before.
  std::filesystem::remove(configFile());
  std::filesystem::remove(lastGoodFile());
  ZeltoPreferences fresh = loaded();
  fresh.password = "unsaved";
  EXPECT_TRUE(fresh.discardUnsavedChanges().ok());
  EXPECT_FALSE(fresh.password);
}

TEST_F(ZeltoPreferencesTest, ResetToDefaults) {
  ZeltoPreferences prefs = loaded();
  prefs.profiles.push_back(prefs.profiles.at(0));
  prefs.sessions.push_back(ZeltoSessionPreferences::initWithDate(clock_.now(), json(60), 1));
  prefs.zeltoUnblockDate = clock_.now();
  prefs.isUserInitiated = true;
  prefs.currentTimeZone = "UTC";
  std::string oldId = prefs.uniqueIdentifier;
  ASSERT_TRUE(prefs.resetToDefaults().ok());
  EXPECT_EQ(prefs.profiles.size(), 1u);
  EXPECT_TRUE(prefs.sessions.empty());
  EXPECT_NE(prefs.uniqueIdentifier, oldId);
  EXPECT_FALSE(prefs.zeltoUnblockDate);
  EXPECT_EQ(prefs.isUserInitiated, true);
  EXPECT_EQ(prefs.currentTimeZone, "UTC");
  EXPECT_FALSE(std::filesystem::exists(configFile()));  // nothing saved
}

TEST_F(ZeltoPreferencesTest, ProfilesAndSchedules) {
  writeConfig(R"({"profiles": [
      {"uniqueID": "P1", "schedules": [{"sortIndex": 2, "uniqueID": "A"},
                                       {"sortIndex": 0, "uniqueID": "SHARED"}]},
      {"uniqueID": "P2", "schedules": [{"sortIndex": 1, "uniqueID": "SHARED"}]}]})");
  auto* prefs = ZeltoPreferences::standardPreferences();
  ASSERT_NE(prefs, nullptr);
  std::vector<uint64_t> order;
  for (const auto& s : prefs->getAllSortedSchedules()) order.push_back(s.sortIndex);
  EXPECT_EQ(order, (std::vector<uint64_t>{0, 1, 2}));
  EXPECT_EQ(prefs->profiles[0].schedules[0].uniqueID, "A");  // stored order untouched
  EXPECT_EQ(prefs->defaultProfile(), &prefs->profiles[0]);

  prefs->profiles.clear();
  ASSERT_NE(prefs->defaultProfile(), nullptr);
  EXPECT_EQ(prefs->profiles.size(), 1u);
  EXPECT_EQ(prefs->profiles[0].name, "Default");
}

TEST_F(ZeltoPreferencesTest, TheSharedRecordRecoversOnceTheFileIsGood) {
  writeConfig("");
  LogCapture capture;
  EXPECT_EQ(ZeltoPreferences::standardPreferences(), nullptr);
  EXPECT_TRUE(capture.has(spdlog::level::info,
                          "Invalid configuration option returned for namespace: default"));
  writeConfig(R"({"zeltoType": 1})");
  EXPECT_EQ(ZeltoPreferences::standardPreferences(), nullptr);  // absent until a retry
  auto* prefs = ZeltoPreferences::retryStandardPreferences();
  ASSERT_NE(prefs, nullptr);
  EXPECT_EQ(ZeltoPreferences::standardPreferences(), prefs);
  EXPECT_EQ(prefs->zeltoType, 1);
  writeConfig("garbage");
  EXPECT_EQ(ZeltoPreferences::retryStandardPreferences(), prefs);  // never replaced
}

TEST_F(ZeltoPreferencesTest, SavingWritesTheBackupFirstAndKeepsTheOldFileOnFailure) {
  ZeltoPreferences prefs = loaded();
  ASSERT_TRUE(prefs.save().ok());
  EXPECT_EQ(storedConfig(), json::parse(readWholeFile(configFile() + ".bak")));
  std::string before = readWholeFile(configFile());

  // A backup that can't be written leaves the main file untouched.
  std::filesystem::remove(configFile() + ".bak");
  std::filesystem::create_directories(configFile() + ".bak/inside");
  prefs.zeltoType = 1;
  // The failure is logged with the record, but never with its password (logs are readable by
  // others); the record keeps it.
  prefs.password = "s3cret-pass";
  LogCapture capture;
  Status failed = prefs.save();
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(readWholeFile(configFile()), before);
  EXPECT_EQ(configDirEntries(), (std::vector<std::string>{"default.cfg", "default.cfg.bak"}));
  EXPECT_THAT(capture.texts().back(), StartsWith("Error while writing config object {"));
  EXPECT_THAT(capture.texts().back(), HasSubstr(configFile() + ".bak ("));
  EXPECT_THAT(capture.texts().back(), HasSubstr(R"("password":"<redacted>")"));
  EXPECT_THAT(failed.message(), Not(HasSubstr("s3cret-pass")));

  EXPECT_TRUE(prefs.saveWithBackup(false).ok());
  EXPECT_EQ(storedConfig()["zeltoType"], 1);
  EXPECT_EQ(storedConfig()["password"], "s3cret-pass");

  // Text that isn't UTF-8 can't be written as JSON: nothing new reaches the file.
  prefs.password = std::string("s3cret-pass\xff\xfe");
  EXPECT_FALSE(prefs.saveWithBackup(false).ok());
  EXPECT_THAT(capture.texts().back(), StartsWith("Error while serializing config object {"));
  EXPECT_EQ(storedConfig()["password"], "s3cret-pass");
  for (const std::string& line : capture.texts()) EXPECT_THAT(line, Not(HasSubstr("s3cret")));
}

TEST_F(ZeltoPreferencesTest, TheConfigurationDirectoryOverrideMovesLoadsAndSaves) {
  ZeltoPreferences prefs = loaded();
  std::string elsewhere = env_.home() + "/sync/zelto";
  SyncManager::setConfiguredSyncDirectory(elsewhere);
  EXPECT_FALSE(prefs.save().ok());                  // a save does not create the directory
  ASSERT_TRUE(prefs.discardUnsavedChanges().ok());  // a reload does
  EXPECT_TRUE(std::filesystem::is_directory(elsewhere));
  ASSERT_TRUE(prefs.save().ok());
  EXPECT_TRUE(std::filesystem::exists(elsewhere + "/default.cfg"));
}

// What can't be used is logged in its own words (a top-level scalar is a parse error, only a
// list an invalid object), then the line every failed load ends with.
TEST_F(ZeltoPreferencesTest, UnusableFilesAreReportedInTheirOwnWords) {
  const std::string file = configFile();
  const std::string unserializing = "Error while unserializing file at " + file;
  const std::string invalidObject = unserializing + ". Invalid configuration object.";
  const std::string scalar = unserializing + ": the top-level value is ";
  struct Case {
    std::function<void()> prepare;
    std::string message;  // what a line logged begins with
  };
  auto contents = [this](const std::string& text) { return [this, text] { writeConfig(text); }; };
  std::vector<Case> cases{
      {contents("{\"zeltoType\": "), unserializing + ": "},
      {contents("[1, 2]"), invalidObject},
      {contents("5"), scalar + "a number, not an object or array"},
      {contents(" \"x\" "), scalar + "a string, not an object or array"},
      {contents("null"), scalar + "null, not an object or array"},
      {contents("true"), scalar + "a boolean, not an object or array"},
      {[&] {
         std::filesystem::remove(file);
         std::filesystem::create_directories(file);
       },
       "Not a regular file: " + file},  // the cause, beside the line below
      {[&] {
         std::filesystem::remove_all(file);
         SyncManager::setConfiguredSyncDirectory(env_.temp().write("plain", "x") + "/sub");
       },
       "Unable to use configuration at " + env_.home() +
           "/plain/sub/default.cfg because directory doesn't exist"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    c.prepare();
    LogCapture capture;
    Result<ZeltoPreferences> loaded = load();
    ASSERT_FALSE(loaded.ok());
    const bool ofContents = c.message.starts_with(unserializing);  // its own line, at info
    if (ofContents) {
      EXPECT_THAT(loaded.status().message(), StartsWith(c.message));
    }
    const auto lines = capture.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const auto& line) {
      return line.text.starts_with(c.message) && (!ofContents || line.level == spdlog::level::info);
    }));
    EXPECT_EQ(capture.count(invalidObject), c.message == invalidObject ? 1u : 0u);
    EXPECT_EQ(lines.back().text, "Invalid configuration option returned for namespace: default");
  }
}

// A system call that fails with `err`.
auto fail(int err) {
  return [err](auto&&...) {
    errno = err;
    return -1;
  };
}

TEST_F(StoreFaultTest, AFailedSaveLeavesTheOldFileWholeAndNothingBeside) {
  ZeltoPreferences prefs = loadRunningTimer();
  ASSERT_TRUE(prefs.save().ok());
  const std::string saved = readWholeFile(configFile());
  const std::string backup = readWholeFile(configFile() + ".bak");
  prefs.zeltoType = 2;
  prefs.profiles.at(0).blockedWebsites = json(std::vector<std::string>(5000, "example.com"));

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
      {"rename", [&](FileSystemCalls& c) { c.rename = fail(EIO); }},
      {"flush", [&](FileSystemCalls& c) { c.fsync = fail(EIO); }},  // last: see below
  };
  for (const auto& [what, inject] : faults) {
    FileSystemCalls calls = FileSystemCalls::real();
    inject(calls);
    LocalFileSystem faulty(calls);
    Env::ScopedOverride override{Env::Services{.fileSystem = &faulty}};
    EXPECT_FALSE(prefs.save().ok()) << what;
    EXPECT_FALSE(prefs.saveWithBackup(false).ok()) << what;
    EXPECT_EQ(readWholeFile(configFile()), saved) << what;
    // The backup, a spare copy, is not flushed: only a failing flush lets it be replaced.
    if (what != "flush") {
      EXPECT_EQ(readWholeFile(configFile() + ".bak"), backup) << what;
    }
    EXPECT_EQ(configDirEntries(), (std::vector<std::string>{"default.cfg", "default.cfg.bak"}))
        << what;
  }
}

TEST_F(StoreFaultTest, AReloadThatCantUseTheFileKeepsTheRecordExactly) {
  const std::string file = configFile();
  const std::string garbled = "Error while unserializing file at " + file + ": ";
  struct Case {
    std::string what;
    std::function<void(FileSystemCalls&)> prepare;
    std::string message;  // the start of a line logged
  };
  std::vector<Case> cases{
      {"a folder that can't be searched", [](FileSystemCalls& c) { c.stat = fail(EACCES); },
       unusable()},
      {"a file that can't be opened", [](FileSystemCalls& c) { c.open = fail(EACCES); },
       unusable()},
      {"an I/O error", [](FileSystemCalls& c) { c.read = fail(EIO); }, unusable()},
      {"a loop of links",
       [&](FileSystemCalls&) {
         std::filesystem::remove(file);
         std::filesystem::create_symlink(file, file);
       },
       unusable()},
      {"a directory",
       [&](FileSystemCalls&) {
         std::filesystem::remove(file);
         std::filesystem::create_directory(file);
       },
       unusable()},
      {"garbage", [&](FileSystemCalls&) { writeConfig("\x01{"); }, garbled},
      {"a value of the wrong type",
       [&](FileSystemCalls&) { writeConfig(R"({"zeltoType": "timer"})"); },
       "Error while discarding unsaved changes: zeltoType"},
      {"an unparsable date",
       [&](FileSystemCalls&) { writeConfig(R"({"zeltoUnblockDate": "soon"})"); },
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

TEST_F(ConfigurationBoundsTest, NestingDeeperThanTheBoundIsAParseErrorWhereverItStands) {
  const std::string arrays = nested("[", "]", 200000);
  const std::string objects = nested("{\"a\":", "}", 200000, "1");
  for (const std::string& text : {arrays, objects, "{\"unknownKey\": " + objects + "}",
                                  "{\"profiles\": [{\"blockedApplications\": " + arrays + "}]}",
                                  "{\"profiles\": [{\"schedules\": [" + objects + "]}]}"}) {
    writeConfig(text);
    EXPECT_EQ(load().status().message(), "Error while unserializing file at " + configFile() +
                                             ": nesting deeper than 512 levels");
  }
  // As deep as allowed (the top object, the profiles, a profile, then 509 arrays), a value
  // is kept, saved and read back.
  writeConfig("{\"profiles\": [{\"blockedApplications\": " + nested("[", "]", 509) + "}]}");
  ASSERT_TRUE(loaded().save().ok());
  EXPECT_EQ(loaded().profiles.at(0).blockedApplications, json::parse(nested("[", "]", 509)));
}

TEST_F(ConfigurationBoundsTest, AFileLargerThanTheBoundIsNotRead) {
  // Sparse: 100 GiB claimed, nothing stored.
  ASSERT_EQ(::truncate(writeConfig("").c_str(), 100LL << 30), 0);
  EXPECT_EQ(load().status().message(), unusable());
  writeConfig(std::string(50'000'000, '\0'));
  EXPECT_EQ(load().status().message(), unusable());
}

// Reads that throw, as running out of memory would make them.
TEST_F(ConfigurationBoundsTest, NoExceptionEscapesALoad) {
  writeConfig("{}");
  testing::FaultyFileSystem throwing;
  throwing.throwOnRead = true;
  Env::ScopedOverride override(Env::Services{.fileSystem = &throwing});
  EXPECT_EQ(load().status().message(), unusable());
}

// Reloads that skip an unchanged file: reads are counted by the file system in force.
class PreferencesReloadTest : public ZeltoPreferencesTest {
 protected:
  int reads() const { return fs_.reads(configFile()); }

  // Another process replacing the file the way every writer of it does: a new file renamed
  // over the old one.
  void replaceFile(const json& config) const {
    std::filesystem::rename(env_.temp().write(".local/share/Zelto/new.cfg", config.dump()),
                            configFile());
  }
  // Someone rewriting it in place (a text editor, say).
  void rewriteInPlace(const json& config) const { writeConfig(config.dump()); }

  // A record loaded from a complete file (every key present, as the applications write it).
  ZeltoPreferences loadSaved() {
    EXPECT_TRUE(loaded().save().ok());
    return loaded();
  }

  testing::FaultyFileSystem fs_;
  Env::ScopedOverride fsOverride_{Env::Services{.fileSystem = &fs_}};
};

TEST_F(PreferencesReloadTest, OnlyAChangedFileIsReadAgain) {
  ZeltoPreferences prefs = loadSaved();
  const int loaded = reads();
  ASSERT_TRUE(prefs.discardUnsavedChangesIfFileChanged().ok());
  ASSERT_TRUE(prefs.discardUnsavedChangesIfFileChanged().ok());
  EXPECT_EQ(reads(), loaded);

  json config = storedConfig();
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
  writeConfig(sparse.dump());
  Zelto zelto(clock_);
  ASSERT_NE(zelto.prefs(), nullptr);
  const std::string made = zelto.prefs()->uniqueIdentifier;
  for (int check = 0; check < 10; ++check) zelto.refreshPrefs();
  EXPECT_EQ(reads(), 1);
  EXPECT_EQ(zelto.prefs()->uniqueIdentifier, made);
  EXPECT_EQ(fs_.writes(configFile()), 0);
  EXPECT_EQ(storedConfig(), sparse);
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
  json theirs = storedConfig();
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
  json config = storedConfig();
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
