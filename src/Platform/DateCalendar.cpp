#include "Platform/DateCalendar.h"

#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/ucal.h>
#include <unicode/utypes.h>

#include <cmath>
#include <memory>
#include <unordered_map>

#include "Platform/Log.h"
#include "Platform/ProcessInfo.h"
#include "Platform/SystemTimeZones.h"

namespace zelto {
namespace {

// Calendar rules apply within this many seconds of 1970 (about 317 000 years), well inside the
// range ICU computes without overflow.
constexpr double kCalendarLimitSeconds = 1e13;
// Larger day moves are done in plain seconds.
constexpr int64_t kMaxCalendarDayMove = 100'000'000;
// Years dateFromComponents accepts, either side of year 0; their moments stay within the limit.
constexpr int kYearLimit = 250'000;
constexpr double kSecondsPerDay = 86400;

bool inCalendarRange(Date date) {
  double seconds = date.secondsSince1970();
  return std::isfinite(seconds) && std::fabs(seconds) <= kCalendarLimitSeconds;
}

// Calendars kept by each thread, at most this many (one per zone).
constexpr size_t kMaxCalendarsPerThread = 32;

// A lenient Gregorian calendar in `timeZone` (UTC, with the warning, for a zone not known) that
// resolves skipped wall times to the next valid moment and repeated ones to their first
// occurrence; nullptr (logged) when ICU cannot make one. Making one copies the zone's whole table
// of transitions, so each thread keeps the calendars it has made; every operation sets the time
// or clears the fields before it reads any.
icu::Calendar* calendarIn(const std::string& timeZone) {
  thread_local std::unordered_map<std::string, std::unique_ptr<icu::Calendar>> calendars;
  const std::string zoneName = SystemTimeZones::knownOrUtc(timeZone);
  auto found = calendars.find(zoneName);
  if (found != calendars.end()) return found->second.get();

  Result<std::unique_ptr<icu::TimeZone>> zone = SystemTimeZones::zone(zoneName);
  if (!zone.ok()) {
    log::error("Calendar unavailable: {}", zone.status().message());
    return nullptr;
  }
  UErrorCode status = U_ZERO_ERROR;
  auto calendar =
      std::make_unique<icu::GregorianCalendar>(zone->release(), icu::Locale::getRoot(), status);
  if (U_FAILURE(status)) {
    log::error("Calendar unavailable: {}", u_errorName(status));
    return nullptr;
  }
  calendar->setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
  calendar->setSkippedWallTimeOption(UCAL_WALLTIME_NEXT_VALID);
  if (calendars.size() >= kMaxCalendarsPerThread) calendars.clear();
  return calendars.emplace(zoneName, std::move(calendar)).first->second.get();
}

// ICU works in whole milliseconds; this splits a date into those and the rest.
struct Millis {
  UDate whole;
  double fraction;
};

Millis millisOf(Date date) {
  double millis = date.secondsSince1970() * 1000;
  double whole = std::floor(millis);
  return {whole, millis - whole};
}

// The moment the calendar's fields denote, or nothing (logged) when ICU fails.
std::optional<UDate> resolve(icu::Calendar& calendar) {
  UErrorCode status = U_ZERO_ERROR;
  UDate millis = calendar.getTime(status);
  if (U_FAILURE(status)) {
    log::error("Calendar computation failed: {}", u_errorName(status));
    return std::nullopt;
  }
  return millis;
}

}  // namespace

std::string DateCalendar::systemTimeZoneName() {
  std::string name = SystemTimeZones::localZoneName(ProcessInfo::environmentValue("TZ"));
  return SystemTimeZones::knows(name) ? name : "UTC";
}

Date DateCalendar::dateByAddingDays(Date date, int64_t days, const std::string& timeZone) {
  icu::Calendar* calendar = calendarIn(timeZone);
  if (!std::isfinite(date.secondsSince1970()) || days == 0) return date;
  Date plainMove = date.addingTimeInterval(static_cast<double>(days) * kSecondsPerDay);
  if (calendar == nullptr || !inCalendarRange(date) || days > kMaxCalendarDayMove ||
      days < -kMaxCalendarDayMove) {
    return plainMove;
  }

  // The same wall-clock time on the day `days` later: read the local day number and time of
  // day, then resolve them on the new day.
  Millis millis = millisOf(date);
  UErrorCode status = U_ZERO_ERROR;
  calendar->setTime(millis.whole, status);
  int32_t julianDay = calendar->get(UCAL_JULIAN_DAY, status);
  int32_t millisInDay = calendar->get(UCAL_MILLISECONDS_IN_DAY, status);
  if (U_FAILURE(status)) {
    log::error("Calendar computation failed: {}", u_errorName(status));
    return plainMove;
  }
  calendar->clear();
  calendar->set(UCAL_JULIAN_DAY, julianDay + static_cast<int32_t>(days));
  calendar->set(UCAL_MILLISECONDS_IN_DAY, millisInDay);
  std::optional<UDate> moved = resolve(*calendar);
  if (!moved) return plainMove;
  return Date::fromSecondsSince1970((*moved + millis.fraction) / 1000);
}

DateComponents DateCalendar::dateComponentsDate(Date date, const std::string& timeZone) {
  icu::Calendar* calendar = calendarIn(timeZone);
  if (calendar == nullptr || !inCalendarRange(date)) return {};

  UErrorCode status = U_ZERO_ERROR;
  calendar->setTime(millisOf(date).whole, status);
  DateComponents components;
  components.year = calendar->get(UCAL_EXTENDED_YEAR, status);
  components.month = calendar->get(UCAL_MONTH, status) + 1;
  components.day = calendar->get(UCAL_DATE, status);
  components.hour = calendar->get(UCAL_HOUR_OF_DAY, status);
  components.minute = calendar->get(UCAL_MINUTE, status);
  components.second = calendar->get(UCAL_SECOND, status);
  components.weekday = calendar->get(UCAL_DAY_OF_WEEK, status);
  if (U_FAILURE(status)) {
    log::error("Calendar computation failed: {}", u_errorName(status));
    return {};
  }
  return components;
}

std::optional<Date> DateCalendar::dateFromComponents(int year, int month, int day, int hour,
                                                     int minute, int second,
                                                     const std::string& timeZone) {
  icu::Calendar* calendar = calendarIn(timeZone);
  if (calendar == nullptr) return std::nullopt;
  if (year < -kYearLimit || year > kYearLimit || month < 1 || month > 12 || day < 1 || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
    return std::nullopt;
  }

  UErrorCode status = U_ZERO_ERROR;
  calendar->clear();
  calendar->set(UCAL_EXTENDED_YEAR, year);
  calendar->set(UCAL_MONTH, month - 1);
  calendar->set(UCAL_DATE, 1);
  int32_t daysInMonth = calendar->getActualMaximum(UCAL_DATE, status);
  if (U_FAILURE(status)) {
    log::error("Calendar computation failed: {}", u_errorName(status));
    return std::nullopt;
  }
  if (day > daysInMonth) return std::nullopt;

  calendar->set(UCAL_DATE, day);
  calendar->set(UCAL_HOUR_OF_DAY, hour);
  calendar->set(UCAL_MINUTE, minute);
  calendar->set(UCAL_SECOND, second);
  calendar->set(UCAL_MILLISECOND, 0);
  std::optional<UDate> millis = resolve(*calendar);
  if (!millis) return std::nullopt;
  return Date::fromSecondsSince1970(*millis / 1000);
}

Date DateCalendar::startOfDay(Date date, const std::string& timeZone) {
  icu::Calendar* calendar = calendarIn(timeZone);
  double seconds = date.secondsSince1970();
  if (!std::isfinite(seconds)) return date;
  Date utcStart = Date::fromSecondsSince1970(std::floor(seconds / kSecondsPerDay) * kSecondsPerDay);
  if (calendar == nullptr || !inCalendarRange(date)) return utcStart;

  UErrorCode status = U_ZERO_ERROR;
  calendar->setTime(millisOf(date).whole, status);
  int32_t julianDay = calendar->get(UCAL_JULIAN_DAY, status);
  if (U_FAILURE(status)) {
    log::error("Calendar computation failed: {}", u_errorName(status));
    return utcStart;
  }
  calendar->clear();
  calendar->set(UCAL_JULIAN_DAY, julianDay);
  calendar->set(UCAL_MILLISECONDS_IN_DAY, 0);
  std::optional<UDate> start = resolve(*calendar);
  if (!start) return utcStart;
  return Date::fromSecondsSince1970(*start / 1000);
}

std::optional<Date> DateCalendar::dateAtTimeOnDay(Date date, int64_t days, int hour, int minute,
                                                  int second, const std::string& timeZone) {
  icu::Calendar* calendar = calendarIn(timeZone);
  if (calendar == nullptr || !inCalendarRange(date) || days > kMaxCalendarDayMove ||
      days < -kMaxCalendarDayMove || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59) {
    return std::nullopt;
  }

  UErrorCode status = U_ZERO_ERROR;
  calendar->setTime(millisOf(date).whole, status);
  int32_t julianDay = calendar->get(UCAL_JULIAN_DAY, status);
  if (U_FAILURE(status)) {
    log::error("Calendar computation failed: {}", u_errorName(status));
    return std::nullopt;
  }
  calendar->clear();
  calendar->set(UCAL_JULIAN_DAY, julianDay + static_cast<int32_t>(days));
  calendar->set(UCAL_MILLISECONDS_IN_DAY, ((hour * 60 + minute) * 60 + second) * 1000);
  std::optional<UDate> millis = resolve(*calendar);
  if (!millis) return std::nullopt;
  return Date::fromSecondsSince1970(*millis / 1000);
}

bool DateCalendar::knowsTimeZone(const std::string& timeZone) {
  return SystemTimeZones::knows(timeZone);
}

}  // namespace zelto
