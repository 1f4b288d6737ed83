#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Platform/DateCalendar.h"
#include "Support/DatePrinting.h"
#include "Support/LogCapture.h"

namespace zelto {
namespace {

constexpr double kHour = 3600;
constexpr double kDay = 86400;

Date at(double seconds) { return Date::fromSecondsSince1970(seconds); }

// Moments in 2026, seconds since 1970 with their UTC reading.
constexpr double k0328_1100Z = 1774695600;  // Berlin 28 Mar 12:00 CET
constexpr double k0329_1000Z = 1774778400;  // Berlin 29 Mar 12:00 CEST
constexpr double k0329_0100Z = 1774746000;  // Berlin 29 Mar 03:00 CEST, the spring change
constexpr double k0325_0800Z = 1774425600;  // Berlin 25 Mar 09:00 CET
constexpr double k0402_0700Z = 1775113200;  // Berlin 2 Apr 09:00 CEST
constexpr double k1024_1000Z = 1792836000;  // Berlin 24 Oct 12:00 CEST
constexpr double k1025_1100Z = 1792926000;  // Berlin 25 Oct 12:00 CET
constexpr double k1025_0030Z = 1792888200;  // Berlin 25 Oct 02:30 CEST, first occurrence
constexpr double k1025_0130Z = 1792891800;  // Berlin 25 Oct 02:30 CET, second occurrence
constexpr double k0615_2000Z = 1781553600;  // Auckland 16 Jun 08:00 NZST (a Tuesday)

TEST(DateCalendarTest, DayMovesKeepTheWallClockTimeAcrossDaylightSavingChanges) {
  const std::string berlin = "Europe/Berlin";
  // Spring: the day has 23 hours, forward and back.
  Date spring = DateCalendar::dateByAddingDays(at(k0328_1100Z), 1, berlin);
  EXPECT_EQ(spring, at(k0329_1000Z));
  EXPECT_EQ(spring.timeIntervalSinceDate(at(k0328_1100Z)), 23 * kHour);
  EXPECT_EQ(DateCalendar::dateByAddingDays(at(k0329_1000Z), -1, berlin), at(k0328_1100Z));
  // Autumn: 25 hours.
  Date autumn = DateCalendar::dateByAddingDays(at(k1024_1000Z), 1, berlin);
  EXPECT_EQ(autumn, at(k1025_1100Z));
  EXPECT_EQ(autumn.timeIntervalSinceDate(at(k1024_1000Z)), 25 * kHour);
  // The controller's window: eight days ahead across the spring change keeps 09:00.
  EXPECT_EQ(DateCalendar::dateByAddingDays(at(k0325_0800Z), 8, berlin), at(k0402_0700Z));
  EXPECT_EQ(DateCalendar::dateByAddingDays(at(k0402_0700Z), -8, berlin), at(k0325_0800Z));
  // Without changes a day is 86 400 seconds, and fractions of a second survive.
  EXPECT_EQ(DateCalendar::dateByAddingDays(at(k0325_0800Z), 8, "UTC"), at(k0325_0800Z + 8 * kDay));
  EXPECT_EQ(DateCalendar::dateByAddingDays(at(k0325_0800Z + 0.25), -1, berlin),
            at(k0325_0800Z + 0.25 - kDay));
}

TEST(DateCalendarTest, SkippedWallTimesMoveToTheNextValidMomentAndRepeatedOnesTakeTheFirst) {
  const std::string berlin = "Europe/Berlin";
  // 02:30 does not exist on 29 March: 03:00 CEST instead.
  EXPECT_EQ(DateCalendar::dateFromComponents(2026, 3, 29, 2, 30, 0, berlin), at(k0329_0100Z));
  Date before = at(k0329_0100Z - 23 * kHour);  // 28 Mar 02:30 CET
  EXPECT_EQ(DateCalendar::dateByAddingDays(before, 1, berlin), at(k0329_0100Z));
  // 02:30 exists twice on 25 October: the first, CEST, one.
  EXPECT_EQ(DateCalendar::dateFromComponents(2026, 10, 25, 2, 30, 0, berlin), at(k1025_0030Z));
  EXPECT_EQ(DateCalendar::dateByAddingDays(at(k1025_0130Z + kDay), -1, berlin), at(k1025_0030Z));
  EXPECT_EQ(DateCalendar::dateByAddingDays(at(k1025_0030Z - kDay), 1, berlin), at(k1025_0030Z));
  // Moving by no days is no move, even from the second occurrence.
  EXPECT_EQ(DateCalendar::dateByAddingDays(at(k1025_0130Z), 0, berlin), at(k1025_0130Z));
}

TEST(DateCalendarTest, ComponentsAndDaysAreReadInTheGivenZone) {
  // Still 15 June in UTC, already Tuesday 16 June in Auckland.
  DateComponents utc = DateCalendar::dateComponentsDate(at(k0615_2000Z), "UTC");
  EXPECT_EQ(utc, (DateComponents{2026, 6, 15, 20, 0, 0, 2}));
  DateComponents auckland = DateCalendar::dateComponentsDate(at(k0615_2000Z), "Pacific/Auckland");
  EXPECT_EQ(auckland, (DateComponents{2026, 6, 16, 8, 0, 0, 3}));
  EXPECT_EQ(DateCalendar::dateByAddingDays(at(k0615_2000Z), -1, "Pacific/Auckland"),
            at(k0615_2000Z - kDay));
  EXPECT_EQ(DateCalendar::startOfDay(at(k0615_2000Z), "Pacific/Auckland"),
            at(k0615_2000Z - 8 * kHour));
  EXPECT_EQ(DateCalendar::startOfDay(at(k0615_2000Z), "UTC"), at(k0615_2000Z - 20 * kHour));

  // Sunday is 1, Saturday 7; seconds are truncated, also before 1970.
  EXPECT_EQ(DateCalendar::dateComponentsDate(at(k0329_0100Z + 59.9), "Europe/Berlin"),
            (DateComponents{2026, 3, 29, 3, 0, 59, 1}));
  EXPECT_EQ(DateCalendar::dateComponentsDate(at(-0.5), "UTC"),
            (DateComponents{1969, 12, 31, 23, 59, 59, 4}));
  EXPECT_EQ(DateCalendar::dateComponentsDate(at(k1024_1000Z), "Europe/Berlin").weekday, 7);

  // Components and dates convert both ways.
  EXPECT_EQ(DateCalendar::dateFromComponents(2026, 6, 16, 8, 0, 0, "Pacific/Auckland"),
            at(k0615_2000Z));
  EXPECT_EQ(DateCalendar::dateFromComponents(2028, 2, 29, 23, 59, 59, "UTC"), at(1835481599));
}

TEST(DateCalendarTest, StartOfDayIsTheFirstExistingMomentOfTheLocalDay) {
  // Berlin's spring day starts at 00:00 CET.
  EXPECT_EQ(DateCalendar::startOfDay(at(k0329_1000Z), "Europe/Berlin"),
            at(k0329_0100Z - 2 * kHour));
  // Santiago skips midnight on 6 September 2026: the day starts at 01:00 (-03).
  EXPECT_EQ(DateCalendar::startOfDay(at(1788667200 + 10 * kHour), "America/Santiago"),
            at(1788667200));
}

TEST(DateCalendarTest, OutOfRangeComponentsGiveNothingRatherThanWrapping) {
  const std::string zone = "Europe/Berlin";
  EXPECT_TRUE(DateCalendar::dateFromComponents(2026, 12, 31, 23, 59, 59, zone).has_value());
  EXPECT_FALSE(DateCalendar::dateFromComponents(2026, 13, 1, 0, 0, 0, zone));
  EXPECT_FALSE(DateCalendar::dateFromComponents(2026, 0, 1, 0, 0, 0, zone));
  EXPECT_FALSE(DateCalendar::dateFromComponents(2026, 1, 0, 0, 0, 0, zone));
  EXPECT_FALSE(DateCalendar::dateFromComponents(2026, 1, 32, 0, 0, 0, zone));
  EXPECT_FALSE(DateCalendar::dateFromComponents(2026, 2, 29, 0, 0, 0, zone));
  EXPECT_FALSE(DateCalendar::dateFromComponents(2026, 4, 31, 0, 0, 0, zone));
  EXPECT_FALSE(DateCalendar::dateFromComponents(2026, 1, 1, 24, 0, 0, zone));
  EXPECT_FALSE(DateCalendar::dateFromComponents(2026, 1, 1, -1, 0, 0, zone));
  EXPECT_FALSE(DateCalendar::dateFromComponents(2026, 1, 1, 0, 60, 0, zone));
  EXPECT_FALSE(DateCalendar::dateFromComponents(2026, 1, 1, 0, 0, 60, zone));
  EXPECT_FALSE(DateCalendar::dateFromComponents(2026, 1, 1, 0, 0, -1, zone));
  EXPECT_FALSE(
      DateCalendar::dateFromComponents(std::numeric_limits<int>::max(), 1, 1, 0, 0, 0, zone));
  EXPECT_FALSE(
      DateCalendar::dateFromComponents(std::numeric_limits<int>::min(), 1, 1, 0, 0, 0, zone));
}

TEST(DateCalendarTest, UnknownZonesReadAsUtcWithOneWarningPerCall) {
  testing::LogCapture capture;
  const std::string line = "Unknown time zone Mars/Olympus, using UTC";
  EXPECT_EQ(DateCalendar::dateByAddingDays(at(k0328_1100Z), 1, "Mars/Olympus"),
            at(k0328_1100Z + kDay));
  EXPECT_EQ(capture.count(line), 1u);
  EXPECT_TRUE(capture.has(spdlog::level::warn, line));
  EXPECT_EQ(DateCalendar::dateComponentsDate(at(k0615_2000Z), "Mars/Olympus"),
            DateCalendar::dateComponentsDate(at(k0615_2000Z), "UTC"));
  EXPECT_EQ(DateCalendar::dateFromComponents(2026, 6, 15, 20, 0, 0, "Mars/Olympus"),
            at(k0615_2000Z));
  EXPECT_EQ(DateCalendar::startOfDay(at(k0615_2000Z), "Mars/Olympus"),
            at(k0615_2000Z - 20 * kHour));
  EXPECT_EQ(capture.count(line), 4u);

  DateCalendar::startOfDay(at(0), "");
  EXPECT_TRUE(capture.has(spdlog::level::warn, "Unknown time zone , using UTC"));
  // The system zone is always one the calendar knows.
  size_t warnings = capture.lines().size();
  DateCalendar::dateComponentsDate(at(0), DateCalendar::systemTimeZoneName());
  EXPECT_EQ(capture.lines().size(), warnings);
}

TEST(DateCalendarTest, DatesOutsideTheCalendarNeitherCrashNorInventDays) {
  const std::string zone = "Europe/Berlin";
  const double inf = std::numeric_limits<double>::infinity();
  Date nan = at(std::numeric_limits<double>::quiet_NaN());

  EXPECT_TRUE(std::isnan(DateCalendar::dateByAddingDays(nan, 1, zone).secondsSince1970()));
  EXPECT_EQ(DateCalendar::dateByAddingDays(at(inf), -1, zone), at(inf));
  EXPECT_EQ(DateCalendar::dateComponentsDate(nan, zone), DateComponents{});
  EXPECT_EQ(DateCalendar::dateComponentsDate(at(-inf), zone), DateComponents{});
  EXPECT_EQ(DateCalendar::dateComponentsDate(at(1e300), zone), DateComponents{});
  EXPECT_TRUE(std::isnan(DateCalendar::startOfDay(nan, zone).secondsSince1970()));
  EXPECT_EQ(DateCalendar::startOfDay(at(1e15), zone), at(999999999993600));  // the UTC day

  // Far moves and far dates go by plain days.
  EXPECT_EQ(DateCalendar::dateByAddingDays(at(0), std::numeric_limits<int64_t>::max(), zone),
            at(static_cast<double>(std::numeric_limits<int64_t>::max()) * kDay));
  EXPECT_EQ(DateCalendar::dateByAddingDays(at(1e300), 1, zone), at(1e300 + kDay));
  // The distant sentinels still have calendar days.
  EXPECT_EQ(DateCalendar::dateComponentsDate(Date::distantFuture(), "UTC"),
            (DateComponents{3000, 1, 1, 0, 0, 0, 4}));
}

}  // namespace
}  // namespace zelto
