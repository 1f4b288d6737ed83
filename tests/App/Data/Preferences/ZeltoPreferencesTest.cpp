#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "App/Controller/Helpers/Sync/SyncManager.h"
#include "App/Data/Preferences/ZeltoPreferences.h"
#include "App/Data/ZeltoDefaults.h"
#include "Platform/DateCalendar.h"
#include "Support/ChildProcess.h"
#include "Support/FakeClock.h"
#include "Support/LogCapture.h"
#include "Support/TestEnv.h"
#include "Support/TestTimeZone.h"

namespace zelto {
namespace {

using json = nlohmann::json;
using ::testing::Contains;
using ::testing::HasSubstr;
using testing::LogCapture;
using ::testing::Not;
using testing::readWholeFile;
using ::testing::StartsWith;
using testing::TestEnv;

// A private home with the built bundle's resources and a fixed clock; the shared record is
// forgotten before and after.
class ZeltoPreferencesTest : public ::testing::Test {
 protected:
  ZeltoPreferencesTest()
      : env_(testing::builtAgentBundle()), clockOverride_(Env::Services{.clock = &clock_}) {
    ZeltoPreferences::resetSharedInstanceForTesting();
  }
  ~ZeltoPreferencesTest() override { ZeltoPreferences::resetSharedInstanceForTesting(); }

  std::string configDir() const { return env_.home() + "/.local/share/Zelto"; }
  std::string configFile() const { return configDir() + "/default.cfg"; }
  void writeConfig(const std::string& text) {
    env_.temp().write(".local/share/Zelto/default.cfg", text);
  }
  json storedConfig() const { return json::parse(readWholeFile(configFile())); }
  std::string lastGoodFile() const {
    return env_.home() + "/.local/state/Zelto/LastGood/default.cfg";
  }

  Result<ZeltoPreferences> load() { return ZeltoPreferences::loadWithNamespace("default"); }

  TestEnv env_;
  FakeClock clock_{Date::fromSecondsSince1970(1'780'000'000)};
  Env::ScopedOverride clockOverride_;
};

TEST_F(ZeltoPreferencesTest, NoFileLoadsDefaultsWithOneDefaultProfileAndWritesNothing) {
  LogCapture capture;
  auto prefs = load();
  ASSERT_TRUE(prefs);
  EXPECT_TRUE(capture.has(spdlog::level::info, "Configuration file does not exist at " +
                                                   configFile() + "...starting from defaults"));
  EXPECT_FALSE(std::filesystem::exists(configFile()));
  ASSERT_EQ(prefs->profiles.size(), 1u);
  const auto& profile = prefs->profiles[0];
  EXPECT_EQ(profile.name, "Default");
  EXPECT_EQ(profile.blockedWebsites, json(ZeltoDefaults::getDefaultHosts()));
  EXPECT_EQ(profile.quotes.size(), ZeltoDefaults::getDefaultQuotes().size());
  EXPECT_EQ(profile.zeltoScript, ZeltoDefaults::getDefaultZeltoScript());
  EXPECT_TRUE(prefs->sessions.empty());
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
  auto first = load();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->numberOfTimesRun, 12u);
  EXPECT_EQ(first->profiles[0].timers.interval, 600);
  ASSERT_TRUE(first->save().ok());
  EXPECT_FALSE(storedConfig().contains("unknownKey"));
  auto second = load();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->toDictionary(), first->toDictionary());
  EXPECT_EQ(storedConfig(), first->toDictionary());
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

  // A file that parses but doesn't fit the record is no good configuration: the copy stays.
  writeConfig(R"({"sessions": [{"zeltoType": 4}]})");
  EXPECT_EQ(load()->zeltoType, 1);
  // A save and a reload are remembered too.
  writeConfig(R"({"zeltoType": 0})");
  auto prefs = load();
  ASSERT_TRUE(prefs);
  prefs->zeltoType = 2;
  ASSERT_TRUE(prefs->save().ok());
  EXPECT_EQ(json::parse(readWholeFile(lastGoodFile()))["zeltoType"], 2);
  writeConfig(R"({"zeltoType": 3})");
  ASSERT_TRUE(prefs->discardUnsavedChanges().ok());
  EXPECT_EQ(json::parse(readWholeFile(lastGoodFile()))["zeltoType"], 3);

  // Neither a file nor a copy: the defaults, as at a first start.
  std::filesystem::remove(configFile());
  std::filesystem::remove(lastGoodFile());
  EXPECT_EQ(load()->zeltoType, 0);
}

TEST_F(ZeltoPreferencesTest, ASessionWithoutIntervalFailsTheWholeLoad) {
  writeConfig(R"({"sessions": [{"date": "2026-01-01T00:00:00Z", "interval": 1, "zeltoType": 0},
                               {"date": "2026-01-01T00:00:00Z", "zeltoType": 4}]})");
  LogCapture capture;
  EXPECT_FALSE(load());
  EXPECT_TRUE(capture.has(spdlog::level::err,
                          "Unable to initialize Zelto Preferences because of error: "
                          "sessions[1].interval: is required but missing"));
}

TEST_F(ZeltoPreferencesTest, ReloadEmptiesExactlyTheVolatileFieldsAndKeepsTheRest) {
  writeConfig(R"({"zeltoType": 1})");
  auto prefs = load();
  ASSERT_TRUE(prefs);
  Date someDate = Date::fromSecondsSince1970(1'700'000'000);
  for (auto* date : {&prefs->lastZeltoDate, &prefs->lastUnzeltoDate, &prefs->lastBreakDate,
                     &prefs->lastUnbreakDate, &prefs->lastTimerTickDate, &prefs->zeltoUnblockDate,
                     &prefs->zeltoUnbreakDate}) {
    *date = someDate;
  }
  prefs->password = "secret";
  prefs->httpPort = 1;
  prefs->websocketPort = 2;
  prefs->isUserInitiated = true;
  prefs->zeltoHardcoreMode = true;  // absent from the file: kept
  prefs->zeltoType = 2;             // present in the file: replaced
  prefs->currentTimeZone = "Europe/Berlin";

  ASSERT_TRUE(prefs->discardUnsavedChanges().ok());
  EXPECT_FALSE(prefs->lastZeltoDate || prefs->lastUnzeltoDate || prefs->lastBreakDate ||
               prefs->lastUnbreakDate || prefs->lastTimerTickDate || prefs->zeltoUnblockDate ||
               prefs->zeltoUnbreakDate || prefs->password || prefs->httpPort ||
               prefs->websocketPort);
  EXPECT_EQ(prefs->isUserInitiated, true);
  EXPECT_TRUE(prefs->zeltoHardcoreMode);
  EXPECT_EQ(prefs->zeltoType, 1);
  EXPECT_EQ(prefs->currentTimeZone, "Europe/Berlin");

  // A file holding the dates restores them; a file gone since keeps the record as it is.
  writeConfig(R"({"zeltoUnblockDate": "2026-12-06T10:00:00Z"})");
  ASSERT_TRUE(prefs->discardUnsavedChanges().ok());
  EXPECT_EQ(prefs->zeltoUnblockDate, JSONValues::parseDate("2026-12-06T10:00:00Z"));
  std::filesystem::remove(configFile());
  prefs->password = "again";
  LogCapture capture;
  EXPECT_TRUE(prefs->discardUnsavedChanges().ok());
  EXPECT_EQ(prefs->password, "again");
  EXPECT_EQ(prefs->zeltoUnblockDate, JSONValues::parseDate("2026-12-06T10:00:00Z"));
  EXPECT_TRUE(capture.has(spdlog::level::info, "Keeping the last loaded configuration: its file " +
                                                   configFile() + " is gone"));

  // A record that never knew a file (nor a copy of one) still takes a reload without one as
  // before.
  std::filesystem::remove(configFile());
  std::filesystem::remove(lastGoodFile());
  auto fresh = load();
  ASSERT_TRUE(fresh);
  fresh->password = "unsaved";
  EXPECT_TRUE(fresh->discardUnsavedChanges().ok());
  EXPECT_FALSE(fresh->password);
}

TEST_F(ZeltoPreferencesTest, ResetToDefaults) {
  auto prefs = load();
  ASSERT_TRUE(prefs);
  prefs->profiles.push_back(prefs->profiles[0]);
  prefs->sessions.push_back(ZeltoSessionPreferences::initWithDate(clock_.now(), json(60), 1));
  prefs->zeltoUnblockDate = clock_.now();
  prefs->isUserInitiated = true;
  prefs->currentTimeZone = "UTC";
  std::string oldId = prefs->uniqueIdentifier;
  ASSERT_TRUE(prefs->resetToDefaults().ok());
  EXPECT_EQ(prefs->profiles.size(), 1u);
  EXPECT_TRUE(prefs->sessions.empty());
  EXPECT_NE(prefs->uniqueIdentifier, oldId);
  EXPECT_FALSE(prefs->zeltoUnblockDate);
  EXPECT_EQ(prefs->isUserInitiated, true);
  EXPECT_EQ(prefs->currentTimeZone, "UTC");
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
  EXPECT_EQ(prefs->profiles[0].getSortedSchedules()[0].uniqueID, "SHARED");
  EXPECT_EQ(prefs->profiles[0].schedules[0].uniqueID, "A");  // stored order untouched

  EXPECT_EQ(ProfileZeltoPreferences::getProfileByUniqueID("P2"), &prefs->profiles[1]);
  EXPECT_EQ(ProfileZeltoPreferences::getProfileByUniqueID("p2"), nullptr);
  EXPECT_EQ(ProfileZeltoPreferences::getProfileByScheduleUniqueID("SHARED"), &prefs->profiles[0]);
  EXPECT_EQ(ProfileZeltoPreferences::getProfileByScheduleUniqueID("none"), nullptr);
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

// An application bundle with an identifier, for the blocked-application entries.
std::string makeApp(const testing::TempDir& dir, const std::string& name, const std::string& id) {
  dir.write(name + "/Contents/Info.plist",
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key>"
            "<string>" +
                id + "</string></dict></plist>");
  return dir / name;
}

TEST_F(ZeltoPreferencesTest, BlockedApplicationEntriesFollowThePathList) {
  auto prefs = load();
  ASSERT_TRUE(prefs);
  const auto& dir = env_.temp();
  std::string a = makeApp(dir, "A.app", "com.a"), b = makeApp(dir, "B.app", "com.b");
  std::string b2 = makeApp(dir, "B2.app", "com.b");

  prefs->syncBlockedApplicationsArrays({a, b}, std::vector<std::string>{});
  auto& entries = prefs->defaultProfile()->blockedApplications;
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1], json::parse(R"({"path": ")" + b + R"(", "shouldHideInsteadOfQuit": true,
      "shouldAlwaysForceQuit": false, "shouldReopenWhenUnzeltoing": true,
      "performOnlySoftKillThenLeaveOpen": false})"));
  EXPECT_TRUE(prefs->preferenceDictionaryWithApplicationPath(a));
  EXPECT_FALSE(prefs->preferenceDictionaryWithApplicationPath(a + "/"));

  // Replacing B by another bundle with its identifier keeps B's flags under the new path.
  entries[1]["shouldAlwaysForceQuit"] = true;
  prefs->syncBlockedApplicationsArrays({a, b2}, std::vector<std::string>{a, b});
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1]["path"], b2);
  EXPECT_EQ(entries[1]["shouldAlwaysForceQuit"], true);

  prefs->syncBlockedApplicationsArrays({b2}, std::vector<std::string>{a, b2});
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0]["path"], b2);

  LogCapture capture;
  EXPECT_EQ(ZeltoPreferences::indexOfAppWithBundleIdentifier("com.b", {a, b, b2}), 2);
  EXPECT_EQ(ZeltoPreferences::indexOfAppWithBundleIdentifier("com.x", {a}), INT64_MAX);
  EXPECT_EQ(capture.lines().size(), 2u);  // neither has exactly one match
}

TEST_F(ZeltoPreferencesTest, SavingWritesTheBackupFirstAndKeepsTheOldFileOnFailure) {
  auto prefs = load();
  ASSERT_TRUE(prefs);
  ASSERT_TRUE(prefs->save().ok());
  EXPECT_EQ(storedConfig(), json::parse(readWholeFile(configFile() + ".bak")));
  std::string before = readWholeFile(configFile());

  // A backup that can't be written leaves the main file untouched.
  std::filesystem::remove(configFile() + ".bak");
  std::filesystem::create_directories(configFile() + ".bak/inside");
  prefs->zeltoType = 1;
  // The failure is logged with the record, but never with its password (logs are readable by
  // others); the record keeps it.
  prefs->password = "s3cret-pass";
  LogCapture capture;
  Status failed = prefs->save();
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(readWholeFile(configFile()), before);
  EXPECT_THAT(capture.texts().back(), StartsWith("Error while writing config object {"));
  EXPECT_THAT(capture.texts().back(), HasSubstr(configFile() + ".bak ("));
  EXPECT_THAT(capture.texts().back(), HasSubstr(R"("password":"<redacted>")"));
  EXPECT_THAT(failed.message(), Not(HasSubstr("s3cret-pass")));

  EXPECT_TRUE(prefs->saveWithBackup(false).ok());
  EXPECT_EQ(storedConfig()["zeltoType"], 1);
  EXPECT_EQ(storedConfig()["password"], "s3cret-pass");

  // Text that isn't UTF-8 can't be written as JSON: nothing new reaches the file.
  prefs->password = std::string("s3cret-pass\xff\xfe");
  EXPECT_FALSE(prefs->saveWithBackup(false).ok());
  EXPECT_THAT(capture.texts().back(), StartsWith("Error while serializing config object {"));
  EXPECT_EQ(storedConfig()["password"], "s3cret-pass");
  for (const std::string& line : capture.texts()) EXPECT_THAT(line, Not(HasSubstr("s3cret")));
}

TEST_F(ZeltoPreferencesTest, SnapshotsAreNamedAfterTheLocalMoment) {
  auto prefs = load();
  ASSERT_TRUE(prefs);
  ASSERT_EQ(DateCalendar::systemTimeZoneName(), testing::kTestTimeZone);
  std::string expected = configFile() + "_2026_5_29_5_26_40.snapshot";
  LogCapture capture;
  ASSERT_TRUE(prefs->saveSnapshot().ok());
  EXPECT_TRUE(std::filesystem::exists(expected)) << expected;
  EXPECT_TRUE(
      capture.has(spdlog::level::debug, "Successfully saved preferences snapshot to " + expected));
}

TEST_F(ZeltoPreferencesTest, TheConfigurationDirectoryOverrideMovesLoadsAndSaves) {
  auto prefs = load();
  ASSERT_TRUE(prefs);
  std::string elsewhere = env_.home() + "/sync/zelto";
  SyncManager::setConfiguredSyncDirectory(elsewhere);
  EXPECT_FALSE(prefs->save().ok());                  // a save does not create the directory
  ASSERT_TRUE(prefs->discardUnsavedChanges().ok());  // a reload does
  EXPECT_TRUE(std::filesystem::is_directory(elsewhere));
  ASSERT_TRUE(prefs->save().ok());
  EXPECT_TRUE(std::filesystem::exists(elsewhere + "/default.cfg"));
  EXPECT_EQ(ZeltoBasePreferences::standardConfigurationPath(), elsewhere + "/default.cfg");
}

TEST_F(ZeltoPreferencesTest, UnusableFilesAreReportedInTheirOwnWords) {
  struct Case {
    std::function<void()> prepare;
    std::string message;
  };
  const std::string file = configFile();
  std::vector<Case> cases{
      {[&] { writeConfig("{\"zeltoType\": "); },
       "Error while unserializing file at " + file + ": "},
      {[&] { writeConfig("[1, 2]"); },
       "Error while unserializing file at " + file + ". Invalid configuration object."},
      {[&] {
         std::filesystem::remove(file);
         std::filesystem::create_directories(file);
       },
       "Not a regular file: " + file},  // the cause, beside the line below
      {[&] {
         std::filesystem::remove_all(file);
         ::mkfifo(file.c_str(), 0600);  // must not block
       },
       "Unable to load configuration file at " + file + ". Something bad has happened."},
      {[&] {
         std::filesystem::remove_all(file);
         SyncManager::setConfiguredSyncDirectory(env_.temp().write("plain", "x") + "/sub");
       },
       "Unable to use configuration at " + env_.home() +
           "/plain/sub/default.cfg because "
           "directory doesn't exist"},
  };
  for (const auto& c : cases) {
    c.prepare();
    LogCapture capture;
    EXPECT_FALSE(load()) << c.message;
    auto texts = capture.texts();
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [&](const std::string& t) {
      return t.rfind(c.message, 0) == 0;
    })) << c.message;
    EXPECT_EQ(texts.back(), "Invalid configuration option returned for namespace: default");
  }
}

TEST_F(ZeltoPreferencesTest, ATopLevelScalarIsAParseErrorAndOnlyAListIsAnInvalidObject) {
  const std::string file = configFile();
  const std::string invalidObject =
      "Error while unserializing file at " + file + ". Invalid configuration object.";
  for (const auto& [contents, kind] : std::vector<std::pair<std::string, std::string>>{
           {"5", "a number"}, {" \"x\" ", "a string"}, {"null", "null"}, {"true", "a boolean"}}) {
    const std::string expected = "Error while unserializing file at " + file +
                                 ": the top-level value is " + kind + ", not an object or array";
    writeConfig(contents);
    LogCapture capture;
    EXPECT_EQ(load().status().message(), expected);  // the failure carries the logged reason
    EXPECT_TRUE(capture.has(spdlog::level::info, expected)) << contents;
    EXPECT_EQ(capture.count(invalidObject), 0u) << contents;
  }
  writeConfig("[{}]");
  LogCapture capture;
  EXPECT_EQ(load().status().message(), invalidObject);
  EXPECT_TRUE(capture.has(spdlog::level::info, invalidObject));
}

}  // namespace
}  // namespace zelto
