#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "App/Data/Preferences/ZeltoPreferences.h"
#include "Platform/DateCalendar.h"
#include "Support/FakeClock.h"
#include "Support/TestEnv.h"
#include "Support/TestTimeZone.h"

namespace zelto {
namespace {

using json = nlohmann::json;
using ::testing::MatchesRegex;
using testing::TempDir;
using testing::TestEnv;

constexpr const char* kUpperCaseUUID =
    "[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}";

// The agent inside an application bundle with resources of known content, and a fixed clock.
class RecordDefaultsTest : public ::testing::Test {
 protected:
  RecordDefaultsTest()
      : env_(agentInside(makeApplication())), clockOverride_(Env::Services{.clock = &clock_}) {}

  std::string makeApplication() {
    dir_.write("Zelto.app/Contents/Resources/zelto", "# sites\nexample.com\nexample.org\n");
    dir_.write("Zelto.app/Contents/Resources/quotes", "Be brief.|Anonymous\nNo author\n");
    dir_.write("Zelto.app/Contents/Resources/zelto_script", "echo on\n");
    dir_.write("Zelto.app/Contents/Resources/unzelto_script", "echo off\n");
    dir_.write("Zelto.app/Contents/Resources/break_script", "echo pause\n");
    return dir_ / "Zelto.app";
  }
  static BundleInfo agentInside(const std::string& app) {
    BundleInfo info;
    info.bundlePath = app + "/Contents/MacOS/Agent.app";
    info.executablePath = info.bundlePath + "/Contents/MacOS/Agent";
    info.bundleIdentifier = "Quarnix.zelto.agent";
    return info;
  }

  // `defaults` equal to `expected` with the same number kinds (0 stays 0, not 0.0).
  static void expectExactly(const json& defaults, const json& expected) {
    EXPECT_EQ(defaults, expected);
    EXPECT_EQ(defaults.dump(), expected.dump());
  }

  TempDir dir_;
  TestEnv env_;
  // 2026-05-28 20:26:40 UTC: 05:26:40 the next morning in the tests' zone.
  FakeClock clock_{Date::fromSecondsSince1970(1'780'000'000)};
  Env::ScopedOverride clockOverride_;
};

TEST_F(RecordDefaultsTest, EveryDefaultsTableIsExactlyThis) {
  json main = ZeltoPreferences::defaultValues();
  EXPECT_THAT(main["uniqueIdentifier"].get<std::string>(), MatchesRegex(kUpperCaseUUID));
  EXPECT_NE(ZeltoPreferences::defaultValues()["uniqueIdentifier"], main["uniqueIdentifier"]);
  // Local wall-clock time with a literal Z, not the UTC time.
  ASSERT_EQ(DateCalendar::systemTimeZoneName(), testing::kTestTimeZone);
  EXPECT_EQ(main["lastCrashReportCheckDate"], "2026-05-29T05:26:40Z");
  main.erase("uniqueIdentifier");
  main.erase("lastCrashReportCheckDate");
  expectExactly(main, json::parse(R"({
      "zeltoHardcoreMode": false, "zeltoMustCompleteSession": false, "zeltoType": 0,
      "zeltoMenuBarType": 0, "zeltoMenuBarClickBehavior": 0, "lastCustomHoursTime": 0,
      "lastCustomMinutesTime": 0, "blockSpeedThrottle": 1, "breakInterval": 300,
      "breakTotalAllowedInterval": 1800, "breakTimeoutInterval": 86400,
      "hasSeenPreferences": false, "hasPromptedForFirefox": false, "enableBetaUpdates": false,
      "enableMonochromeIcon": false, "enableCloseBrowserTabs": false, "enablePomodoroMode": false,
      "disableEagerUnzelto": false, "disableAutoSendCrashReports": false,
      "disableShowBrowserPopover": false, "disableLaunchOnStartup": false,
      "disableNotifications": false, "disableShowDragAndDropTooltip": false,
      "disableBreaks": false, "disableDoNotDisturbMode": true, "numberOfTimesRun": 0,
      "maxExpectedBreakInterval": 0, "did_use_zelto": false, "did_use_schedule": false,
      "did_use_timer": false, "did_use_pomomdoro": false, "did_use_break": false,
      "did_use_hardcore_mode": false, "did_use_scripting": false,
      "did_use_password_mode": false, "profiles": [{}], "sessions": []})"));
  EXPECT_EQ(main.size(), 37u);  // and the two computed ones: 39

  json profile = ProfileZeltoPreferences::defaultValues();
  EXPECT_THAT(profile["uniqueID"].get<std::string>(), MatchesRegex(kUpperCaseUUID));
  EXPECT_NE(ProfileZeltoPreferences::defaultValues()["uniqueID"], profile["uniqueID"]);
  profile.erase("uniqueID");
  expectExactly(profile, json::parse(R"({
      "name": "Default", "timers": {}, "schedules": [], "zeltoScript": "echo on\n",
      "unzeltoScript": "echo off\n", "breakScript": "echo pause\n", "unbreakScript": "",
      "quotes": [{"quote": "Be brief.", "author": "Anonymous"},
                 {"quote": "No author", "author": ""}],
      "blockedApplications": [], "blockedWebsites": ["example.com", "example.org"],
      "whitelistedWebsites": [], "enableWhitelistWebsites": false})"));

  json schedule = ScheduleZeltoPreferences::defaultValues();
  EXPECT_THAT(schedule["uniqueID"].get<std::string>(), MatchesRegex(kUpperCaseUUID));
  EXPECT_NE(ScheduleZeltoPreferences::defaultValues()["uniqueID"], schedule["uniqueID"]);
  schedule.erase("uniqueID");
  expectExactly(schedule, json::parse(R"({"sortIndex": 0, "scheduleType": 0, "isEnabled": false,
      "isDirty": false, "fromDate": {}, "toDate": {}})"));

  expectExactly(TimerZeltoPreferences::defaultValues(),
                json::parse(R"({"interval": 1500, "frequentlyUsedIntervals": {}})"));
  expectExactly(QuoteZeltoPreferences::defaultValues(),
                json::parse(R"({"quote": "", "author": ""})"));
  expectExactly(ZeltoSessionPreferences::defaultValues(), json::object());
}

// Where `value` (at `path`) is anything but false, zero, empty or the zero date, a failure.
void expectZero(const json& value, const std::string& path) {
  if (value.is_object()) {
    for (const auto& [key, item] : value.items()) expectZero(item, path + "." + key);
  } else if (value.is_array()) {
    EXPECT_TRUE(value.empty()) << path << " = " << value.dump();
  } else {
    bool zero = value == json(false) || value == json(0) || value == json("") ||
                value == json(JSONValues::formatDate(Date()));
    EXPECT_TRUE(zero) << path << " = " << value.dump();
  }
}

TEST_F(RecordDefaultsTest, PlainConstructionLeavesEveryFieldZeroOrEmpty) {
  expectZero(ZeltoPreferences().toDictionary(), "ZeltoPreferences");
  expectZero(ProfileZeltoPreferences().toDictionary(), "ProfileZeltoPreferences");
  expectZero(ScheduleZeltoPreferences().toDictionary(), "ScheduleZeltoPreferences");
  expectZero(TimerZeltoPreferences().toDictionary(), "TimerZeltoPreferences");
  expectZero(QuoteZeltoPreferences().toDictionary(), "QuoteZeltoPreferences");
  expectZero(ZeltoSessionPreferences().toDictionary(), "ZeltoSessionPreferences");
  // Fields that are not stored start empty as well.
  ScheduleZeltoPreferences schedule;
  EXPECT_FALSE(schedule.isDirty);
  EXPECT_FALSE(ZeltoPreferences().currentTimeZone);
}

}  // namespace
}  // namespace zelto
