// The expansion of one schedule record into blocking periods (ScheduleZeltoPreferences).
#include <cmath>
#include <optional>

#include "App/Data/Preferences/ScheduleZeltoPreferences.h"
#include "App/Data/Schedules/ScheduleHelpers.h"
#include "Platform/DateCalendar.h"
#include "Platform/Log.h"

namespace zelto {
namespace {

// A time of day in minutes since midnight, or nothing when a part is out of range.
std::optional<int> minutesOfDay(const CalendarComponents& time) {
  int64_t hour = time.hour.value_or(0);
  int64_t minute = time.minute.value_or(0);
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return std::nullopt;
  return static_cast<int>(hour * 60 + minute);
}

}  // namespace

std::vector<NormalizedScheduleItem> ScheduleZeltoPreferences::normalizeWithStartDate(
    Date start, Date end, const std::string& timeZone) const {
  std::vector<NormalizedScheduleItem> periods;
  if (!isEnabled || !end.isGreaterDate(start)) return periods;
  if (!std::isfinite(start.secondsSince1970()) || !std::isfinite(end.secondsSince1970())) {
    return periods;
  }
  std::optional<int> from = minutesOfDay(fromDate);
  std::optional<int> to = minutesOfDay(toDate);
  if (!from || !to) return periods;
  // No day number matches any other type; spare the walk.
  if (scheduleType < 1 || scheduleType > 10) return periods;

  // Settle the zone once, so that an unknown one is reported once rather than at every step.
  std::string zone = timeZone;
  if (!DateCalendar::knowsTimeZone(zone)) {
    log::warning("Unknown time zone {}, using UTC", timeZone);
    zone = "UTC";
  }

  auto add = [&](Date begin, std::optional<Date> finish) {
    if (finish && begin.isLessDate(*finish)) periods.emplace_back(begin, *finish, uniqueID);
  };

  // The occurrences of the start time, day by day from the day of `start`.
  std::optional<Date> previous;
  for (int64_t day = 0;; ++day) {
    std::optional<Date> occurrence =
        DateCalendar::dateAtTimeOnDay(start, day, *from / 60, *from % 60, 0, zone);
    if (!occurrence || occurrence->isGreaterDate(end)) break;
    Date at = *occurrence;
    // Not after the window's start, or the same moment as the day before (a skipped day).
    if (at.isLessOrEqualToDate(start) || (previous && at.isLessOrEqualToDate(*previous))) continue;
    previous = at;
    if (!ScheduleHelpers::scheduleTypesMatch(scheduleType,
                                             ScheduleHelpers::scheduleTypeForDate(at, zone))) {
      continue;
    }

    // The day's bounds are only needed by a period that reaches past midnight or takes the
    // whole day; the calendar is asked no more than the period needs.
    auto nextDayStart = [&] { return DateCalendar::dateAtTimeOnDay(at, 1, 0, 0, 0, zone); };
    if (*from == *to) {
      add(DateCalendar::startOfDay(at, zone), nextDayStart());
      continue;
    }
    std::optional<Date> endToday =
        DateCalendar::dateAtTimeOnDay(at, 0, *to / 60, *to % 60, 0, zone);
    if (*from > *to) {
      if (endToday) add(DateCalendar::startOfDay(at, zone), endToday);
      add(at, nextDayStart());
    } else {
      add(at, endToday);
    }
  }
  return periods;
}

}  // namespace zelto
