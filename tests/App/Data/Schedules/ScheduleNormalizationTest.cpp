#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "App/Data/Preferences/ScheduleZeltoPreferences.h"
#include "App/Data/Schedules/ScheduleHelpers.h"
#include "Platform/DateCalendar.h"

namespace zelto {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kUTC = "UTC";
const std::string kBerlin = "Europe/Berlin";

Date at(int y, int mo, int d, int h, int mi, const std::string& zone = kUTC) {
  return *DateCalendar::dateFromComponents(y, mo, d, h, mi, 0, zone);
}

// A period as "MM-DD HH:MM>MM-DD HH:MM" read in `zone`, so failures show wall-clock times.
std::string text(Date date, const std::string& zone) {
  DateComponents c = DateCalendar::dateComponentsDate(date, zone);
  return fmt::format("{:02}-{:02} {:02}:{:02}", c.month, c.day, c.hour, c.minute);
}
std::vector<std::string> texts(const std::vector<NormalizedScheduleItem>& periods,
                               const std::string& zone = kUTC) {
  std::vector<std::string> out;
  for (const auto& p : periods)
    out.push_back(text(p.fromDate(), zone) + ">" + text(p.toDate(), zone));
  return out;
}

ScheduleZeltoPreferences record(int32_t type, int fromHour, int fromMinute, int toHour,
                                int toMinute) {
  ScheduleZeltoPreferences r;
  r.isEnabled = true;
  r.scheduleType = type;
  r.fromDate = {.hour = fromHour, .minute = fromMinute};
  r.toDate = {.hour = toHour, .minute = toMinute};
  r.uniqueID = "S";
  return r;
}

// Saturday 6 June 2026 12:00 to the following Saturday 12:00, in UTC.
std::vector<std::string> week(const ScheduleZeltoPreferences& r) {
  return texts(r.normalizeWithStartDate(at(2026, 6, 6, 12, 0), at(2026, 6, 13, 12, 0), kUTC));
}

TEST(ScheduleNormalizationTest, TheThreeFormsOnTheSelectedDaysOnly) {
  EXPECT_THAT(
      week(record(8, 9, 0, 17, 0)),
      ElementsAre("06-08 09:00>06-08 17:00", "06-09 09:00>06-09 17:00", "06-10 09:00>06-10 17:00",
                  "06-11 09:00>06-11 17:00", "06-12 09:00>06-12 17:00"));
  // Overnight: both parts stay on Monday, morning first; nothing reaches into Tuesday.
  EXPECT_THAT(week(record(1, 22, 0, 6, 0)),
              ElementsAre("06-08 00:00>06-08 06:00", "06-08 22:00>06-09 00:00"));
  EXPECT_THAT(week(record(3, 13, 0, 13, 0)), ElementsAre("06-10 00:00>06-11 00:00"));
  EXPECT_THAT(week(record(9, 13, 0, 14, 0)),
              ElementsAre("06-06 13:00>06-06 14:00", "06-07 13:00>06-07 14:00"));
}

TEST(ScheduleNormalizationTest, RecordsThatGiveNoPeriods) {
  EXPECT_THAT(week(record(0, 9, 0, 17, 0)), IsEmpty());
  auto off = record(10, 9, 0, 17, 0);
  off.isEnabled = false;
  EXPECT_THAT(week(off), IsEmpty());
  // Times out of range, however they were stored, give nothing and do not crash.
  auto huge = record(10, 9, 0, 17, 0);
  huge.fromDate.hour = std::numeric_limits<int64_t>::max();
  EXPECT_THAT(week(huge), IsEmpty());
}

TEST(ScheduleNormalizationTest, AStartAtTheWindowStartIsLeftOutOneAtItsEndIsKept) {
  auto r = record(10, 9, 0, 10, 0);
  EXPECT_THAT(texts(r.normalizeWithStartDate(at(2026, 6, 8, 9, 0), at(2026, 6, 10, 9, 0), kUTC)),
              ElementsAre("06-09 09:00>06-09 10:00", "06-10 09:00>06-10 10:00"));
  EXPECT_THAT(texts(r.normalizeWithStartDate(at(2026, 6, 8, 8, 59), at(2026, 6, 8, 9, 0), kUTC)),
              ElementsAre("06-08 09:00>06-08 10:00"));
  EXPECT_THAT(r.normalizeWithStartDate(at(2026, 6, 8, 9, 0), at(2026, 6, 9, 8, 59), kUTC),
              IsEmpty());
}

TEST(ScheduleNormalizationTest, DaysAreThoseOfTheZoneGiven) {
  // Monday 8 June 20:00 UTC is already Tuesday 08:00 in Auckland.
  Date moment = at(2026, 6, 8, 20, 0);
  const std::string auckland = "Pacific/Auckland";
  EXPECT_EQ(ScheduleHelpers::scheduleTypeForDate(moment, auckland), 2);
  auto tuesday = record(2, 7, 30, 9, 0);
  auto periods =
      tuesday.normalizeWithStartDate(at(2026, 6, 8, 12, 0), at(2026, 6, 8, 22, 0), auckland);
  ASSERT_THAT(texts(periods, auckland), ElementsAre("06-09 07:30>06-09 09:00"));
  EXPECT_EQ(periods[0].fromDate(), at(2026, 6, 8, 19, 30));
  EXPECT_TRUE(periods[0].contains(moment));
  EXPECT_THAT(tuesday.normalizeWithStartDate(at(2026, 6, 8, 12, 0), at(2026, 6, 8, 22, 0), kUTC),
              IsEmpty());
}

TEST(ScheduleNormalizationTest, DaylightSavingDaysInBerlin) {
  // Saturday noon to Monday noon around the change on Sunday; each period's length in hours.
  auto periods = [](const ScheduleZeltoPreferences& r, int month, int day) {
    return r.normalizeWithStartDate(at(2026, month, day - 1, 12, 0, kBerlin),
                                    at(2026, month, day + 1, 12, 0, kBerlin), kBerlin);
  };
  auto hours = [&](const ScheduleZeltoPreferences& r, int month, int day) {
    std::vector<double> out;
    for (const auto& p : periods(r, month, day)) {
      out.push_back(p.toDate().timeIntervalSinceDate(p.fromDate()) / 3600);
    }
    return out;
  };

  // 29 March: 02:00 CET jumps to 03:00 CEST.
  EXPECT_THAT(hours(record(10, 0, 0, 0, 0), 3, 29), ElementsAre(23, 24));
  // A start inside the skipped hour begins at 03:00.
  auto skipped = periods(record(10, 2, 30, 5, 0), 3, 29);
  EXPECT_THAT(texts(skipped, kBerlin),
              ElementsAre("03-29 03:00>03-29 05:00", "03-30 02:30>03-30 05:00"));
  EXPECT_EQ(skipped[0].fromDate(), at(2026, 3, 29, 1, 0));
  // Both ends inside the skipped hour: nothing that day.
  EXPECT_THAT(texts(periods(record(10, 2, 10, 2, 50), 3, 29), kBerlin),
              ElementsAre("03-30 02:10>03-30 02:50"));

  // 25 October: 03:00 CEST goes back to 02:00 CET; a repeated start takes its first occurrence.
  EXPECT_THAT(hours(record(10, 0, 0, 0, 0), 10, 25), ElementsAre(25, 24));
  auto repeated = periods(record(10, 2, 30, 4, 0), 10, 25);
  ASSERT_EQ(repeated.size(), 2u);
  EXPECT_EQ(repeated[0].fromDate(), at(2026, 10, 25, 0, 30));
  EXPECT_EQ(repeated[0].toDate(), at(2026, 10, 25, 3, 0));
}

}  // namespace
}  // namespace zelto
