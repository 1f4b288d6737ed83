#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "App/Data/Preferences/ScheduleZeltoPreferences.h"
#include "App/Data/Schedules/NSDateComponentsHelpers.h"
#include "App/Data/Schedules/NSTimeIntervalFormatter.h"
#include "App/Data/Schedules/Schedule.h"
#include "App/Data/Schedules/ScheduleHelpers.h"
#include "Platform/DateCalendar.h"
#include "Platform/LocaleDateFormatter.h"
#include "Support/FakeClock.h"
#include "Support/TestEnv.h"

namespace zelto {
namespace {

using json = nlohmann::json;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Items = std::vector<NormalizedScheduleItem>;

const std::string kUTC = "UTC";
const std::string kBerlin = "Europe/Berlin";

// Makes `name` the process's locale while it lives.
class ScopedLocale {
 public:
  explicit ScopedLocale(const std::string& name) : previous_(LocaleDateFormatter::defaultLocale()) {
    LocaleDateFormatter::setDefaultLocale(name);
  }
  ~ScopedLocale() { LocaleDateFormatter::setDefaultLocale(previous_); }

 private:
  std::string previous_;
};

Date at(int y, int mo, int d, int h, int mi, int s = 0, const std::string& zone = kUTC) {
  return *DateCalendar::dateFromComponents(y, mo, d, h, mi, s, zone);
}
// A period on Monday 8 June 2026 (UTC) between two times of day.
NormalizedScheduleItem period(int fromHour, int fromMinute, int fromSecond, int toHour,
                              int toMinute, const std::string& id) {
  return {at(2026, 6, 8, fromHour, fromMinute, fromSecond), at(2026, 6, 8, toHour, toMinute), id};
}

ScheduleZeltoPreferences record(int32_t type, int fromHour, int fromMinute, int toHour,
                                int toMinute, const std::string& id = "S") {
  ScheduleZeltoPreferences r;
  r.isEnabled = true;
  r.scheduleType = type;
  r.fromDate = NSDateComponentsHelpers::initWithHourMinute(fromHour, fromMinute);
  r.toDate = NSDateComponentsHelpers::initWithHourMinute(toHour, toMinute);
  r.uniqueID = id;
  return r;
}

TEST(ScheduleHelpersTest, DayNumbersAndTheDaysATypeCovers) {
  ScopedLocale english("en_US");
  // Saturday 6 June to Monday 8 June 2026.
  EXPECT_EQ(ScheduleHelpers::scheduleTypeForDate(at(2026, 6, 7, 23, 59), kUTC), 7);

  auto covered = [](int32_t type) {
    std::vector<int> days;
    for (int day = -1; day <= 9; ++day) {
      if (ScheduleHelpers::scheduleTypesMatch(type, day)) days.push_back(day);
    }
    return days;
  };
  EXPECT_EQ(covered(10), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(covered(9), (std::vector<int>{6, 7}));
  EXPECT_EQ(covered(8), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(covered(3), (std::vector<int>{3}));
  EXPECT_EQ(covered(11), (std::vector<int>{}));
}

TEST(ScheduleTest, TheNextPeriodIsTheEarliestInForceOrToCome) {
  // Monday 8 June 2026 10:00. The first record's periods come first in the generated list and
  // its next one is days away; the second record's starts in two minutes.
  FakeClock clock(at(2026, 6, 8, 10, 0));
  Env::ScopedOverride override(Env::Services{.clock = &clock});
  ScheduleZeltoPreferences friday = record(5, 9, 0, 17, 0, "friday");
  ScheduleZeltoPreferences soon = record(10, 10, 2, 11, 0, "soon");

  Date now = clock.now();
  Schedule schedule(ScheduleHelpers::generatedScheduleForItems(
                        {friday, soon}, DateCalendar::dateByAddingDays(now, -1, kUTC),
                        DateCalendar::dateByAddingDays(now, 8, kUTC), kUTC),
                    kUTC);
  ASSERT_EQ(schedule.items().front().uniqueID(), "friday");
  EXPECT_EQ(schedule.getFromDate(), at(2026, 6, 12, 9, 0));  // first of the list...
  EXPECT_EQ(schedule.getToDate(), at(2026, 6, 15, 11, 0));   // ...and last, not sorted
  auto next = schedule.getNextActiveScheduleItem();
  ASSERT_TRUE(next);
  EXPECT_EQ(next->uniqueID(), "soon");
  EXPECT_EQ(next->fromDate().timeIntervalSinceDate(now), 120);
  // In force wins; at its end the next one to come follows.
  EXPECT_EQ(schedule.getNextActiveScheduleItemForDate(at(2026, 6, 8, 10, 30))->fromDate(),
            at(2026, 6, 8, 10, 2));
  EXPECT_EQ(schedule.getNextActiveScheduleItemForDate(at(2026, 6, 8, 11, 0))->fromDate(),
            at(2026, 6, 9, 10, 2));
}

// The questions as the schedule answered them by walking every period, before it was indexed
// (and as ScheduleHelpers asks them of a plain list): the period in force contains the moment,
// its start but not its end, and of several the one ending last wins, the later in the list
// among equal ends; the chain goes on from each end while a period is in force there, so that
// touching periods chain and any gap ends it; the next period is the one in force or to come
// that starts first, the first in the list among equal starts.
namespace walked {
std::optional<NormalizedScheduleItem> active(const Items& items, Date date) {
  const NormalizedScheduleItem* best = nullptr;
  for (const auto& item : items) {
    if (!item.contains(date)) continue;
    if (best == nullptr || item.toDate().isGreaterOrEqualToDate(best->toDate())) best = &item;
  }
  return best ? std::optional(*best) : std::nullopt;
}
Items chain(const Items& items, Date date) {
  Items out;
  for (auto item = active(items, date); item; item = active(items, item->toDate())) {
    out.push_back(*item);
  }
  return out;
}
std::optional<NormalizedScheduleItem> next(const Items& items, Date date) {
  const NormalizedScheduleItem* best = nullptr;
  for (const auto& item : items) {
    if (!item.contains(date) && !item.fromDate().isGreaterDate(date)) continue;
    if (best == nullptr || item.fromDate().isLessDate(best->fromDate())) best = &item;
  }
  return best ? std::optional(*best) : std::nullopt;
}
}  // namespace walked

// Every answer of the index against the walk, at the ends of every period, just before them and
// every 20 minutes over the window.
void expectAnswersAsWalked(const Items& items, Date from, Date to, const std::string& where) {
  Schedule schedule(items, kUTC);
  std::vector<Date> moments;
  for (const auto& item : items) {
    for (Date end : {item.fromDate(), item.toDate()}) {
      moments.push_back(end);
      moments.push_back(end.addingTimeInterval(-0.5));
    }
  }
  for (Date t = from; t < to; t = t.addingTimeInterval(1200)) moments.push_back(t);
  for (Date t : moments) {
    Items chain = walked::chain(items, t);
    ASSERT_EQ(schedule.getNextActiveScheduleItemForDate(t), walked::next(items, t)) << where;
    ASSERT_EQ(schedule.getScheduleItemChainFromDate(t), chain) << where;
    ASSERT_EQ(schedule.getLastActiveScheduleItemFromDate(t),
              chain.empty() ? std::nullopt : std::optional(chain.back()))
        << where;
  }
}

// Generated records of every type (twins among them, for ties), with whole days, overnight
// periods and times that daylight-saving changes skip or repeat, made into schedules as the
// controller makes them, around changes in several zones: the same periods with and without the
// calendar's arithmetic, and the same answers from the index as from walking the periods.
TEST(ScheduleTest, GeneratedSchedulesGiveTheSamePeriodsAndAnswers) {
  std::mt19937 random(20261209);
  auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  auto schedule = [](int type, int from, int to, const std::string& id) {
    return record(type, from / 60, from % 60, to / 60, to % 60, id);
  };
  std::vector<ScheduleZeltoPreferences> records = {
      schedule(10, 150, 195, "skipped"), schedule(10, 0, 30, "midnight"),
      schedule(10, 1410, 60, "overnight"), schedule(7, 0, 0, "sunday")};
  for (int i = 0; i < 24; ++i) {
    int from = pick(4) == 0 ? 0 : pick(96) * 15;
    int to = pick(3) == 0 ? from : pick(96) * 15;
    records.push_back(schedule(pick(12), from, to, "S" + std::to_string(i)));
    records.back().isEnabled = pick(6) != 0;
    if (pick(4) == 0) records.push_back(schedule(records.back().scheduleType, from, to, "twin"));
  }

  struct Check {
    std::string zone;
    int month, day;
  };
  for (const auto& [zone, month, day] :
       {Check{kUTC, 6, 8}, Check{kBerlin, 3, 28}, Check{kBerlin, 10, 24},
        Check{"America/New_York", 11, 1}, Check{"America/Santiago", 9, 5},
        Check{"America/Santiago", 4, 4}, Check{"Australia/Lord_Howe", 4, 4},
        Check{"Australia/Lord_Howe", 10, 3}}) {
    std::string where = zone + " " + std::to_string(month) + "-" + std::to_string(day);
    Date now = at(2026, month, day, 10, 0, 0, zone);
    Date start = DateCalendar::dateByAddingDays(now, -1, zone);
    Date end = DateCalendar::dateByAddingDays(now, 8, zone);
    DateCalendar::setArithmeticForTesting(false);
    Items before = ScheduleHelpers::generatedScheduleForItems(records, start, end, zone);
    DateCalendar::setArithmeticForTesting(true);
    Items after = ScheduleHelpers::generatedScheduleForItems(records, start, end, zone);
    ASSERT_EQ(after, before) << where;
    expectAnswersAsWalked(after, start, end.addingTimeInterval(86400), where);
  }

  // Dates that are not numbers or are infinite neither crash the index nor change an answer.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  Items odd{period(9, 0, 0, 12, 0, "A"),
            {Date::fromSecondsSince1970(nan), at(2026, 6, 8, 13, 0), "nan-start"},
            {at(2026, 6, 8, 10, 0), Date::fromSecondsSince1970(nan), "nan-end"},
            {at(2026, 6, 8, 12, 0), Date::fromSecondsSince1970(inf), "endless"},
            {Date::fromSecondsSince1970(-inf), at(2026, 6, 8, 9, 30), "always"}};
  expectAnswersAsWalked(odd, at(2026, 6, 8, 6, 0), at(2026, 6, 8, 15, 0), "odd dates");
  Schedule oddSchedule(odd, kUTC);
  EXPECT_FALSE(oddSchedule.getNextActiveScheduleItemForDate(Date::fromSecondsSince1970(nan)));
  EXPECT_TRUE(oddSchedule.getScheduleItemChainFromDate(Date::fromSecondsSince1970(nan)).empty());
}

// The end of blocking as text, in English with a chosen clock format, with user defaults of
// its own.
class UnblockTimeTest : public ::testing::Test {
 protected:
  void setClockFormat(const json& format) {
    ASSERT_TRUE(env_.store().save("com.apple.menuextra.clock", {{"DateFormat", format}}).ok());
  }
  // The text for an end `seconds` after Monday 8 June 2026 12:00 UTC, with the narrow spaces
  // some locale data puts before AM and PM made plain.
  std::string endingIn(double seconds, const std::string& zone = kUTC) {
    Date now = at(2026, 6, 8, 12, 0);
    std::string text =
        ScheduleHelpers::unblockScheduleTimeWithDate(now, now.addingTimeInterval(seconds), zone);
    for (size_t i; (i = text.find("\u202F")) != std::string::npos;) text.replace(i, 3, " ");
    return text;
  }

  ScopedLocale english_{"en_US"};
  testing::TestEnv env_;
};

TEST_F(UnblockTimeTest, FormsByDistanceAndClockFormat) {
  EXPECT_FALSE(ScheduleHelpers::isSystemClockFormat24Hr());  // en_US's own format: 12-hour
  EXPECT_EQ(endingIn(86399), "11:59 AM");
  EXPECT_EQ(endingIn(86400), "Tue 12:00 PM");
  EXPECT_EQ(endingIn(604800), "∞");
  EXPECT_EQ(ScheduleHelpers::unblockScheduleTimeWithDate(at(2026, 6, 8, 12, 0), std::nullopt, kUTC),
            "");

  setClockFormat("H:mm");
  EXPECT_TRUE(ScheduleHelpers::isSystemClockFormat24Hr());
  EXPECT_EQ(endingIn(86399), "11:59");
  EXPECT_EQ(endingIn(86400), "Tue 12:00");
  EXPECT_EQ(endingIn(86400, kBerlin), "Tue 14:00");
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
    return r.normalizeWithStartDate(at(2026, month, day - 1, 12, 0, 0, kBerlin),
                                    at(2026, month, day + 1, 12, 0, 0, kBerlin), kBerlin);
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

using F = NSTimeIntervalFormatter;

TEST(NSTimeIntervalFormatterTest, WordFormsRoundHalvesAwayFromZeroAndIgnoreTheSign) {
  using Parts = std::vector<TimeIntervalPart>;
  EXPECT_EQ(F::rawPartsForTimeInterval(-2.5), (Parts{{"seconds", 3}}));
  EXPECT_TRUE(F::rawPartsForTimeInterval(-0.49).empty());
  // Exact in whole seconds far beyond 2^53, and held at the 64-bit limit beyond that.
  EXPECT_EQ(F::rawPartsForTimeInterval(1152921504606846976.0),  // 2^60
            (Parts{{"days", 13343998895912}, {"hours", 13}, {"minutes", 56}, {"seconds", 16}}));
  EXPECT_EQ(F::rawPartsForTimeInterval(1e300).front(),
            (TimeIntervalPart{"days", std::numeric_limits<int64_t>::max() / 86400}));

  EXPECT_EQ(F::relativeTimeForInterval(90061), "1 day 1 hour 1 minute 1 second");
  EXPECT_EQ(F::relativeTimeForInterval(-90), "1 minute 30 seconds");
  EXPECT_EQ(F::relativeTimeForInterval(3599.5), "1 hour");
  EXPECT_EQ(F::relativeTimeForInterval(0.4), "0 seconds");
  // Intervals that are not finite show no time.
  for (double t :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity()}) {
    EXPECT_TRUE(F::rawPartsForTimeInterval(t).empty());
    EXPECT_EQ(F::relativeTimeForInterval(t), "0 seconds");
  }
}

}  // namespace
}  // namespace zelto
