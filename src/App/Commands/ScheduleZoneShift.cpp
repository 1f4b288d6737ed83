#include "App/Commands/ScheduleZoneShift.h"

#include <fmt/format.h>

#include <cmath>
#include <cstdlib>

#include "App/Commands/ScheduleArguments.h"
#include "App/Data/Preferences/ScheduleZeltoPreferences.h"
#include "App/Data/Schedules/NSDateComponentsHelpers.h"
#include "Platform/DateCalendar.h"

namespace zelto {

namespace {

constexpr int32_t kEveryDay = 10;
constexpr int kDay = ScheduleArguments::kMinutesPerDay;

// The start of the first period of the schedule, read in `zone`, that hasn't ended at `now`.
Date nextOccurrence(int32_t type, int from, int to, const std::string& zone, Date now) {
  ScheduleZeltoPreferences record;
  record.isEnabled = true;
  record.scheduleType = type;
  record.fromDate = NSDateComponentsHelpers::initWithHourMinute(from / 60, from % 60);
  record.toDate = NSDateComponentsHelpers::initWithHourMinute(to / 60, to % 60);
  for (const auto& period :
       record.normalizeWithStartDate(DateCalendar::dateByAddingDays(now, -1, zone),
                                     DateCalendar::dateByAddingDays(now, 8, zone), zone)) {
    if (period.toDate().isGreaterDate(now)) return period.fromDate();
  }
  return now;
}

std::string dayText(Date date, const std::string& zone) {
  static const char* kWeekdays[] = {"", "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* kMonths[] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  DateComponents c = DateCalendar::dateComponentsDate(date, zone);
  if (c.month < 1 || c.month > 12 || c.weekday < 1 || c.weekday > 7) return "?";
  return fmt::format("{} {} {} {}", kWeekdays[c.weekday], c.day, kMonths[c.month], c.year);
}

}  // namespace

int ScheduleZoneShift::offsetAt(Date date, const std::string& zone) {
  DateComponents c = DateCalendar::dateComponentsDate(date, zone);
  auto utc =
      DateCalendar::dateFromComponents(c.year, c.month, c.day, c.hour, c.minute, c.second, "UTC");
  if (!utc) return 0;
  return static_cast<int>(std::lround(utc->timeIntervalSinceDate(date) / 60));
}

std::string ScheduleZoneShift::offsetText(int minutes) {
  return fmt::format("UTC{}{:02}:{:02}", minutes < 0 ? '-' : '+', std::abs(minutes) / 60,
                     std::abs(minutes) % 60);
}

Result<ScheduleZoneShift> ScheduleZoneShift::shift(int32_t type, int from, int to,
                                                   const std::string& zone,
                                                   const std::string& localZone, Date now) {
  ScheduleZoneShift out;
  out.at = nextOccurrence(type, from, to, zone, now);
  out.zoneOffset = offsetAt(out.at, zone);
  out.localOffset = offsetAt(out.at, localZone);
  const int delta = out.localOffset - out.zoneOffset;
  out.fromMinutes = from;
  out.toMinutes = to;
  if (delta == 0) return out;

  const std::string given =
      ScheduleArguments::timeText(from) + "-" + ScheduleArguments::timeText(to) + " in " + zone;
  const std::string offsets = fmt::format("{} there and {} here on {}", offsetText(out.zoneOffset),
                                          offsetText(out.localOffset), dayText(out.at, zone));
  const std::string advice = "give the times in local time (" + localZone + ") without --zone";
  if (from == to) {
    const std::string start = ScheduleArguments::timeText(((delta % kDay) + kDay) % kDay);
    return Status::failure(fmt::format(
        "--zone: a whole day in {} runs from {} to {} in {} ({}), and a schedule can't move to "
        "another day; {}",
        zone, delta > 0 ? start : start + " the day before",
        delta > 0 ? start + " the next day" : start, localZone, offsets, advice));
  }
  const bool untilMidnight = to == 0;
  const int end = untilMidnight ? kDay : to;
  if (from > end && type != kEveryDay) {
    return Status::failure(fmt::format(
        "--zone: {} runs overnight, and its midnight boundaries would move to another day in {} "
        "({}); {}",
        given, localZone, offsets, advice));
  }
  const int newFrom = from + delta;
  const int newEnd = end + delta;
  const bool endFits = from > end ? newEnd >= 0 && newEnd < kDay : newEnd <= kDay;
  if (newFrom < 0 || newFrom >= kDay || !endFits) {
    return Status::failure(fmt::format(
        "--zone: {} is {}-{} in {} ({}), reaching into {}, and a schedule can't move to "
        "another day; {}",
        given, ScheduleArguments::timeText(((newFrom % kDay) + kDay) % kDay),
        ScheduleArguments::timeText(((newEnd % kDay) + kDay) % kDay), localZone, offsets,
        newFrom < 0 ? "the day before" : "the next day", advice));
  }
  out.fromMinutes = newFrom;
  out.toMinutes = newEnd % kDay;
  return out;
}

}  // namespace zelto
