#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "App/Data/Preferences/ZeltoPreferences.h"
#include "Platform/DateCalendar.h"
#include "Platform/Env.h"
#include "Support/FakeClock.h"
#include "Support/TestTimeZone.h"

namespace zelto {
namespace {

using json = nlohmann::json;
using ::testing::MatchesRegex;

TEST(RecordDefaultsTest, TheMainRecordsDefaultsAreItsThirtyNineAndTheComputedOnesAreLocal) {
  // 2026-05-28 20:26:40 UTC: 05:26:40 the next morning in the tests' zone.
  FakeClock clock{Date::fromSecondsSince1970(1'780'000'000)};
  Env::ScopedOverride clockOverride(Env::Services{.clock = &clock});
  json main = ZeltoPreferences::defaultValues();
  EXPECT_EQ(main.size(), 39u);
  EXPECT_THAT(main["uniqueIdentifier"].get<std::string>(),
              MatchesRegex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"));
  // Local wall-clock time with a literal Z, not the UTC time.
  ASSERT_EQ(DateCalendar::systemTimeZoneName(), testing::kTestTimeZone);
  EXPECT_EQ(main["lastCrashReportCheckDate"], "2026-05-29T05:26:40Z");
  // The defaults that are not zero, false or empty; every number stays an integer.
  EXPECT_EQ(main["blockSpeedThrottle"].dump(), "1");
  EXPECT_EQ(main["breakInterval"].dump(), "300");
  EXPECT_EQ(main["breakTotalAllowedInterval"].dump(), "1800");
  EXPECT_EQ(main["breakTimeoutInterval"].dump(), "86400");
  EXPECT_EQ(main["disableDoNotDisturbMode"], true);
  EXPECT_EQ(main["profiles"], json::parse("[{}]"));
  EXPECT_EQ(TimerZeltoPreferences::defaultValues()["interval"].dump(), "1500");
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

TEST(RecordDefaultsTest, PlainConstructionLeavesEveryFieldZeroOrEmpty) {
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
