#include <gtest/gtest.h>
#include <unicode/basictz.h>
#include <unicode/gregocal.h>
#include <unicode/tztrans.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "Platform/DateCalendar.h"
#include "Platform/SystemTimeZones.h"

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

// (Unknown zones read as UTC, with a warning: SystemTimeZonesTest.PathsAndPosixRules....)
TEST(DateCalendarTest, DatesOutsideTheCalendarDoNoHarm) {
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

// Every answer, with the arithmetic and with ICU's calendar alone, for moments at and around
// every transition from 2000 to 2036 and at random over seven centuries, in zones with odd
// offsets and odd changes (half hours, midnight, negative saving, a skipped day) and zones given
// as a rule and as a file.
TEST(DateCalendarTest, ArithmeticGivesWhatIcusCalendarGives) {
  struct Answers {
    std::vector<double> dates;
    std::vector<int> fields;
  };
  auto answers = [](double t, const std::string& zone, bool arithmetic) {
    DateCalendar::setArithmeticForTesting(arithmetic);
    Answers out;
    auto add = [&out](std::optional<Date> date) {
      // NaN (nothing) compares unequal to itself; store it as a marker.
      out.dates.push_back(date ? date->secondsSince1970() : -1e300);
    };
    Date date = Date::fromSecondsSince1970(t);
    DateComponents c = DateCalendar::dateComponentsDate(date, zone);
    out.fields = {c.year, c.month, c.day, c.hour, c.minute, c.second, c.weekday};
    add(DateCalendar::startOfDay(date, zone));
    for (int64_t days : {-8, 1, 40000}) {
      add(DateCalendar::dateByAddingDays(date, days, zone));
    }
    // The wall time the moment reads as, on its day and on the next.
    for (int64_t days : {0, 1}) {
      add(DateCalendar::dateAtTimeOnDay(date, days, c.hour, c.minute, c.second, zone));
    }
    add(DateCalendar::dateAtTimeOnDay(date, 0, 0, 0, 0, zone));
    add(DateCalendar::dateFromComponents(c.year, c.month, c.day, c.hour, c.minute, c.second, zone));
    DateCalendar::setArithmeticForTesting(true);
    return out;
  };

  std::mt19937_64 random(20261209);
  // Zones by name, one as a rule and one as a file.
  for (const std::string zone :
       {"UTC", "Europe/Berlin", "America/New_York", "America/Santiago", "Australia/Lord_Howe",
        "Pacific/Apia", "America/St_Johns", "Asia/Kathmandu", "Africa/Casablanca", "Europe/Dublin",
        "Antarctica/Troll", "America/Nuuk", "CET-1CEST,M3.5.0,M10.5.0/3",
        "/usr/share/zoneinfo/Asia/Tehran"}) {
    std::vector<double> moments;
    auto icuZone = SystemTimeZones::zone(zone);
    ASSERT_TRUE(icuZone.ok()) << zone;
    auto* basic = dynamic_cast<const icu::BasicTimeZone*>(icuZone->get());
    ASSERT_NE(basic, nullptr);
    icu::TimeZoneTransition transition;
    for (double from = 946684800000.0;  // 2000
         basic->getNextTransition(from, false, transition) && transition.getTime() < 2.08e12;
         from = transition.getTime()) {
      for (double shift : {-25 * kHour, -kHour, -1.0, 0.0, 0.25, kHour, 25 * kHour}) {
        moments.push_back(transition.getTime() / 1000 + shift);
      }
    }
    std::uniform_real_distribution<double> anyTime(-1.3e10, 1.0e10);  // 1558 to 2286
    for (int i = 0; i < 100; ++i) moments.push_back(std::floor(anyTime(random)));
    for (double far : {-1e13, -9.9e12, 9.99e12, 1e13}) moments.push_back(far);

    for (double t : moments) {
      Answers fast = answers(t, zone, true);
      Answers icu = answers(t, zone, false);
      ASSERT_EQ(fast.fields, icu.fields) << zone << " at " << t;
      ASSERT_EQ(fast.dates, icu.dates) << zone << " at " << t;
    }
  }
}

TEST(DateCalendarTest, MonthLengthsAreIcusIncludingTheJulianYears) {
  UErrorCode status = U_ZERO_ERROR;
  icu::GregorianCalendar calendar(icu::TimeZone::getGMT()->clone(), status);
  ASSERT_TRUE(U_SUCCESS(status));
  for (int year : {-250000, -101, -100, -4,   -1,   0,    1,    4,    100,  1500, 1580,
                   1581,    1582, 1583, 1584, 1600, 1700, 1900, 2000, 2024, 2100, 250000}) {
    for (int month = 1; month <= 12; ++month) {
      calendar.clear();
      calendar.set(UCAL_EXTENDED_YEAR, year);
      calendar.set(UCAL_MONTH, month - 1);
      calendar.set(UCAL_DATE, 1);
      int32_t last = calendar.getActualMaximum(UCAL_DATE, status);
      EXPECT_TRUE(DateCalendar::dateFromComponents(year, month, last, 0, 0, 0, "UTC"));
      EXPECT_FALSE(DateCalendar::dateFromComponents(year, month, last + 1, 0, 0, 0, "UTC"))
          << year << "-" << month;
    }
  }
}

}  // namespace
}  // namespace zelto
