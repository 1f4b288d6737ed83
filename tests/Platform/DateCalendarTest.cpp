#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "Platform/DateCalendar.h"
#include "Support/LogCapture.h"

namespace zelto {
namespace {

constexpr double kHour = 3600;
constexpr double kDay = 86400;
const std::string kBerlin = "Europe/Berlin";

// Dates as seconds since 1970, so that failures print readable numbers.
double addDays(double t, int64_t days, const std::string& zone = kBerlin) {
  return DateCalendar::dateByAddingDays(Date::fromSecondsSince1970(t), days, zone)
      .secondsSince1970();
}
double startOfDay(double t, const std::string& zone) {
  return DateCalendar::startOfDay(Date::fromSecondsSince1970(t), zone).secondsSince1970();
}
double at(int y, int mo, int d, int h, int mi, int s, const std::string& zone = kBerlin) {
  auto date = DateCalendar::dateFromComponents(y, mo, d, h, mi, s, zone);
  return date ? date->secondsSince1970() : -1;
}
std::vector<int> read(double t, const std::string& zone) {
  DateComponents c = DateCalendar::dateComponentsDate(Date::fromSecondsSince1970(t), zone);
  return {c.year, c.month, c.day, c.hour, c.minute, c.second, c.weekday};
}

// Moments in 2026, with their UTC reading.
constexpr double k0328_1100Z = 1774695600;  // Berlin 28 Mar 12:00 CET
constexpr double k0329_1000Z = 1774778400;  // Berlin 29 Mar 12:00 CEST
constexpr double k0329_0100Z = 1774746000;  // Berlin 29 Mar 03:00 CEST, the spring change
constexpr double k0325_0800Z = 1774425600;  // Berlin 25 Mar 09:00 CET
constexpr double k0402_0700Z = 1775113200;  // Berlin 2 Apr 09:00 CEST
constexpr double k1024_1000Z = 1792836000;  // Berlin 24 Oct 12:00 CEST
constexpr double k1025_0030Z = 1792888200;  // Berlin 25 Oct 02:30 CEST, first occurrence
constexpr double k1025_0130Z = 1792891800;  // Berlin 25 Oct 02:30 CET, second occurrence
constexpr double k0615_2000Z = 1781553600;  // Auckland 16 Jun 08:00 NZST (a Tuesday)

TEST(DateCalendarTest, DayMovesKeepTheWallClockTimeAcrossDaylightSavingChanges) {
  EXPECT_EQ(addDays(k0328_1100Z, 1), k0328_1100Z + 23 * kHour);  // spring: a 23-hour day
  EXPECT_EQ(addDays(k0329_1000Z, -1), k0329_1000Z - 23 * kHour);
  EXPECT_EQ(addDays(k1024_1000Z, 1), k1024_1000Z + 25 * kHour);  // autumn: a 25-hour day
  EXPECT_EQ(addDays(k0325_0800Z, 8), k0402_0700Z);
  EXPECT_EQ(addDays(k0402_0700Z, -8), k0325_0800Z);
  EXPECT_EQ(addDays(k0325_0800Z + 0.25, -1), k0325_0800Z + 0.25 - kDay);
}

TEST(DateCalendarTest, SkippedWallTimesMoveToTheNextValidMomentAndRepeatedOnesTakeTheFirst) {
  // 02:30 does not exist on 29 March: 03:00 CEST instead.
  EXPECT_EQ(at(2026, 3, 29, 2, 30, 0), k0329_0100Z);
  EXPECT_EQ(addDays(k0329_0100Z - 23 * kHour, 1), k0329_0100Z);
  // 02:30 exists twice on 25 October: the first, CEST, one.
  EXPECT_EQ(at(2026, 10, 25, 2, 30, 0), k1025_0030Z);
  EXPECT_EQ(addDays(k1025_0130Z + kDay, -1), k1025_0030Z);
  EXPECT_EQ(addDays(k1025_0130Z, 0), k1025_0130Z);  // no days is no move
}

TEST(DateCalendarTest, ComponentsAndDaysAreReadInTheGivenZone) {
  // Still Monday 15 June in UTC, already Tuesday 16 June in Auckland.
  EXPECT_EQ(read(k0615_2000Z, "UTC"), (std::vector<int>{2026, 6, 15, 20, 0, 0, 2}));
  EXPECT_EQ(read(k0615_2000Z, "Pacific/Auckland"), (std::vector<int>{2026, 6, 16, 8, 0, 0, 3}));
  EXPECT_EQ(at(2026, 6, 16, 8, 0, 0, "Pacific/Auckland"), k0615_2000Z);
  EXPECT_EQ(startOfDay(k0615_2000Z, "Pacific/Auckland"), k0615_2000Z - 8 * kHour);
  // Seconds are truncated, also before 1970.
  EXPECT_EQ(read(-0.5, "UTC"), (std::vector<int>{1969, 12, 31, 23, 59, 59, 4}));
  // Santiago skips midnight on 6 September 2026: the day starts at 01:00 (-03).
  EXPECT_EQ(startOfDay(1788667200 + 10 * kHour, "America/Santiago"), 1788667200);
}

TEST(DateCalendarTest, InvalidComponentsGiveNothingRatherThanWrapping) {
  EXPECT_EQ(at(2028, 2, 29, 23, 59, 59, "UTC"), 1835481599);
  EXPECT_EQ(at(2026, 2, 29, 0, 0, 0), -1);
  EXPECT_EQ(at(2026, 13, 1, 0, 0, 0), -1);
  EXPECT_EQ(at(2026, 1, 1, 24, 0, 0), -1);
  EXPECT_EQ(at(2026, 1, 1, 0, 0, 60), -1);
  EXPECT_EQ(at(std::numeric_limits<int>::max(), 1, 1, 0, 0, 0), -1);
}

TEST(DateCalendarTest, UnknownZonesReadAsUtcAndDatesOutsideTheCalendarDoNoHarm) {
  testing::LogCapture capture;
  EXPECT_EQ(addDays(k0328_1100Z, 1, "Mars/Olympus"), k0328_1100Z + kDay);
  EXPECT_EQ(capture.count("Unknown time zone Mars/Olympus, using UTC"), 1u);
  EXPECT_TRUE(std::isnan(addDays(std::numeric_limits<double>::quiet_NaN(), 1)));
  EXPECT_EQ(read(1e300, kBerlin), std::vector<int>(7, 0));
  EXPECT_EQ(addDays(0, std::numeric_limits<int64_t>::max()),  // plain days, no overflow
            static_cast<double>(std::numeric_limits<int64_t>::max()) * kDay);
}

TEST(DateCalendarTest, TimesOnLaterDaysResolveLikeComponentsAndRefuseWhatIsOutOfRange) {
  auto onDay = [](double t, int64_t days, int h, int mi, const std::string& zone = kBerlin) {
    auto date = DateCalendar::dateAtTimeOnDay(Date::fromSecondsSince1970(t), days, h, mi, 0, zone);
    return date ? date->secondsSince1970() : -1;
  };
  EXPECT_EQ(onDay(k0328_1100Z, 1, 2, 30), k0329_0100Z);  // skipped: the next valid moment
  EXPECT_EQ(onDay(k1024_1000Z, 1, 2, 30), k1025_0030Z);  // repeated: the first
  EXPECT_EQ(onDay(k0615_2000Z, 0, 0, 0, "Pacific/Auckland"), k0615_2000Z - 8 * kHour);
  EXPECT_EQ(onDay(k0328_1100Z, 0, 24, 0), -1);
  EXPECT_EQ(onDay(k0328_1100Z, 0, 0, -1), -1);
  EXPECT_EQ(onDay(std::numeric_limits<double>::quiet_NaN(), 0, 0, 0), -1);
  EXPECT_EQ(onDay(k0328_1100Z, std::numeric_limits<int64_t>::max(), 0, 0), -1);
}

}  // namespace
}  // namespace zelto
