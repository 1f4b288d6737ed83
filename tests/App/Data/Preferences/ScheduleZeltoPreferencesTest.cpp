#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "App/Data/Preferences/ScheduleZeltoPreferences.h"

namespace zelto {
namespace {

using json = nlohmann::json;
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

ScheduleZeltoPreferences read(const json& input) {
  auto schedule = ScheduleZeltoPreferences::initWithDictionary(input);
  EXPECT_TRUE(schedule) << schedule.status().message();
  return schedule.valueOr(ScheduleZeltoPreferences{});
}

CalendarComponents time(int64_t hour, int64_t minute) {
  CalendarComponents components;
  components.hour = hour;
  components.minute = minute;
  return components;
}

// The start time read from a schedule whose "fromDate" holds `value`.
CalendarComponents fromDate(const json& value) { return read({{"fromDate", value}}).fromDate; }

TEST(ScheduleZeltoPreferencesTest,
     AnEmptyObjectReadsAsDefaultsAndIsDirtyAndBadSortIndexesNeverPass) {
  auto schedule = read(json::object());
  EXPECT_EQ(schedule.uniqueID.size(), 36u);
  EXPECT_EQ(schedule.toDictionary(), json({{"isEnabled", false},
                                           {"sortIndex", 0},
                                           {"scheduleType", 0},
                                           {"fromDate", json::object()},
                                           {"toDate", json::object()},
                                           {"uniqueID", schedule.uniqueID}}));
  // Without a stored identifier every read makes a new one.
  EXPECT_NE(read(json::object()).uniqueID, schedule.uniqueID);

  // "isDirty" is never read nor written.
  schedule = read({{"isDirty", true}, {"uniqueID", "A"}});
  EXPECT_FALSE(schedule.isDirty);
  schedule.isDirty = true;
  EXPECT_FALSE(schedule.toDictionary().contains("isDirty"));
  EXPECT_EQ(schedule.valueForKey("isDirty"), std::nullopt);
  // A negative sort index fails, naming the key path.
  EXPECT_EQ(
      ScheduleZeltoPreferences::initWithDictionary({{"sortIndex", -1}}, "profiles[0].schedules[2]")
          .status()
          .message(),
      "profiles[0].schedules[2].sortIndex: -1 is negative");
}

TEST(ScheduleZeltoPreferencesTest, TimesOfDayLeaveZeroPartsOutAndReadBackTheSame) {
  EXPECT_EQ(fromDate({{"minute", 5}}), time(0, 5));
  EXPECT_EQ(read({{"fromDate", {{"hour", 0}, {"minute", 0}}}}).toDictionary()["fromDate"],
            json::object());
  json stored = {{"isEnabled", true},        {"sortIndex", 3},
                 {"scheduleType", 8},        {"fromDate", {{"hour", 9}, {"minute", 30}}},
                 {"toDate", {{"hour", 17}}}, {"uniqueID", "A"}};
  EXPECT_EQ(read(stored).toDictionary(), stored);
  // Null takes the default {}; a value that is not an object reads as 00:00 too.
  EXPECT_EQ(fromDate(nullptr), time(0, 0));
  EXPECT_EQ(fromDate("09:30"), time(0, 0));

  auto schedule = read(stored);
  ASSERT_TRUE(schedule.mergeFromDictionary({{"fromDate", {{"minute", 45}}}}).ok());
  EXPECT_EQ(schedule.fromDate, time(0, 45));
  EXPECT_EQ(schedule.toDate, time(17, 0));
}

TEST(ScheduleZeltoPreferencesTest, HourIsTheIntegerValueOfWhateverIsStored) {
  auto hour = [](const json& value) { return fromDate({{"hour", value}}).hour; };
  EXPECT_EQ(hour("9abc"), 9);
  EXPECT_EQ(hour(" -3"), -3);
  EXPECT_EQ(hour("+07:30"), 7);
  EXPECT_EQ(hour("- 3"), 0);
  EXPECT_EQ(hour(true), 1);
  EXPECT_EQ(hour(9.9), 9);
  EXPECT_EQ(hour(json::array()), 0);
  // Beyond 64 bits a value stops at the nearest limit; NaN gives 0.
  EXPECT_EQ(hour(1e300), kMax);
  EXPECT_EQ(hour(-1e300), kMin);
  EXPECT_EQ(hour(std::nan("")), 0);
  EXPECT_EQ(hour(std::numeric_limits<uint64_t>::max()), kMax);
  EXPECT_EQ(hour("99999999999999999999"), kMax);
  EXPECT_EQ(hour("-9223372036854775808"), kMin);
}

}  // namespace
}  // namespace zelto
