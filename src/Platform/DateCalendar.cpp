#include "Platform/DateCalendar.h"

#include <unicode/basictz.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/rbtz.h>
#include <unicode/timezone.h>
#include <unicode/tzrule.h>
#include <unicode/tztrans.h>
#include <unicode/ucal.h>
#include <unicode/utypes.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <unordered_map>
#include <vector>

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

constexpr double kMillisPerDay = 86400000;
constexpr double kInfinity = std::numeric_limits<double>::infinity();
// The Julian day number of 1970-01-01.
constexpr int32_t kEpochJulianDay = 2440588;
// From this day (in 1585) on, ICU's calendar counts days in the Gregorian calendar only; its
// switch from the Julian one lies in 1582.
constexpr int32_t kGregorianOnlyFromJulianDay = 2300000;
constexpr int kGregorianOnlyFromYear = 1585;
// More than any offset from UTC a zone may have (SystemTimeZones refuses more than 25 hours).
constexpr double kMaxOffsetMillis = 26.0 * 3600 * 1000;
// Stretches of constant offset each thread keeps per zone.
constexpr size_t kMaxSpansPerZone = 8;

// Tests compare the arithmetic below with ICU's calendar by switching it off.
thread_local bool arithmeticEnabled = true;

int32_t totalOffset(const icu::TimeZoneRule* rule) {
  return rule->getRawOffset() + rule->getDSTSavings();
}

// A stretch of time with one offset from UTC, in milliseconds: from `start` (a transition, or
// -infinity) to `end` (the next one, or infinity). `localStart` to `localEnd` are the wall times
// that belong to this stretch alone: neither skipped nor repeated by the transitions at its
// ends, and far enough from every other transition that none of them can be mistaken for it.
struct OffsetSpan {
  double start = -kInfinity;
  double end = kInfinity;
  double localStart = -kInfinity;
  double localEnd = kInfinity;
  int32_t offset = 0;
};

// The stretch around the UTC moment `millis`, from the zone's own transitions; nothing when the
// zone answers inconsistently.
std::optional<OffsetSpan> spanAround(const icu::BasicTimeZone& zone, double millis) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t raw = 0;
  int32_t daylight = 0;
  zone.getOffset(millis, false, raw, daylight, status);
  if (U_FAILURE(status)) return std::nullopt;
  OffsetSpan span;
  span.offset = raw + daylight;

  icu::TimeZoneTransition transition;
  icu::TimeZoneTransition neighbour;
  if (zone.getPreviousTransition(millis, true, transition)) {
    if (transition.getFrom() == nullptr || transition.getTo() == nullptr ||
        totalOffset(transition.getTo()) != span.offset) {
      return std::nullopt;
    }
    span.start = transition.getTime();
    double earlier =
        zone.getPreviousTransition(span.start, false, neighbour) ? neighbour.getTime() : -kInfinity;
    span.localStart =
        std::max(span.start + std::max(totalOffset(transition.getFrom()), span.offset),
                 earlier + kMaxOffsetMillis);
  }
  if (zone.getNextTransition(millis, false, transition)) {
    if (transition.getFrom() == nullptr || transition.getTo() == nullptr ||
        totalOffset(transition.getFrom()) != span.offset) {
      return std::nullopt;
    }
    span.end = transition.getTime();
    double later =
        zone.getNextTransition(span.end, false, neighbour) ? neighbour.getTime() : kInfinity;
    span.localEnd = std::min(span.end + std::min(totalOffset(transition.getTo()), span.offset),
                             later - kMaxOffsetMillis);
  }
  return span;
}

// Whether plain arithmetic on the offsets of `zone` gives what ICU's calendar gives: a zone
// SystemTimeZones built from the system's rules, a list of transitions and nothing after them.
// Its calendar finds the offset of a moment, or of a wall time, by the last transition at or
// before it (wall times of a transition counted with the offset before or after it); so where
// the offset stays the same well around a moment, the offset of every such moment is that one.
bool arithmeticAgreesWith(const icu::TimeZone& zone) {
  const auto* rules = dynamic_cast<const icu::RuleBasedTimeZone*>(&zone);
  if (rules == nullptr) return false;
  UErrorCode status = U_ZERO_ERROR;
  int32_t count = rules->countTransitionRules(status);
  if (U_FAILURE(status) || count < 0) return false;
  std::vector<const icu::TimeZoneRule*> list(static_cast<size_t>(count));
  const icu::InitialTimeZoneRule* initial = nullptr;
  rules->getTimeZoneRules(initial, list.data(), count, status);
  if (U_FAILURE(status)) return false;
  return std::all_of(list.begin(), list.begin() + count, [](const icu::TimeZoneRule* rule) {
    return dynamic_cast<const icu::TimeArrayTimeZoneRule*>(rule) != nullptr;
  });
}

// A lenient Gregorian calendar in one zone that resolves skipped wall times to the next valid
// moment and repeated ones to their first occurrence, and the stretches of constant offset met
// so far. ICU's calendar looks offsets up by a linear search through the zone's four centuries
// of transitions; within a stretch, away from its ends, the same answers come from arithmetic.
class ZoneCalendar {
 public:
  ZoneCalendar(std::unique_ptr<icu::Calendar> calendar, bool arithmetic)
      : calendar_(std::move(calendar)),
        zone_(arithmetic ? dynamic_cast<const icu::BasicTimeZone*>(&calendar_->getTimeZone())
                         : nullptr) {}

  icu::Calendar& calendar() { return *calendar_; }

  // The offset (ms) at the UTC moment `millis`, when arithmetic may be used.
  std::optional<int32_t> offsetAt(double millis) {
    if (zone_ == nullptr || !arithmeticEnabled) return std::nullopt;
    for (const OffsetSpan& span : spans_) {
      if (span.start <= millis && millis < span.end) return span.offset;
    }
    const OffsetSpan* span = add(millis);
    if (span == nullptr) return std::nullopt;
    return span->offset;
  }

  // The UTC moment (ms) of the wall time `wall` (ms since 1970 read as UTC), when it belongs
  // to one stretch alone and arithmetic may be used.
  std::optional<double> utcOfWall(double wall) {
    if (zone_ == nullptr || !arithmeticEnabled) return std::nullopt;
    for (const OffsetSpan& span : spans_) {
      if (span.localStart <= wall && wall < span.localEnd) return wall - span.offset;
    }
    // The stretch it would belong to under the last offset used, unless that one is known: then
    // the wall time lies near one of its ends, where the calendar answers.
    const double guess = wall - lastOffset_;
    for (const OffsetSpan& known : spans_) {
      if (known.start <= guess && guess < known.end) return std::nullopt;
    }
    const OffsetSpan* span = add(guess);
    if (span == nullptr || wall < span->localStart || wall >= span->localEnd) return std::nullopt;
    return wall - span->offset;
  }

 private:
  const OffsetSpan* add(double millis) {
    if (!std::isfinite(millis)) return nullptr;
    std::optional<OffsetSpan> span = spanAround(*zone_, millis);
    if (!span) return nullptr;
    if (spans_.size() >= kMaxSpansPerZone) spans_.erase(spans_.begin());
    spans_.push_back(*span);
    lastOffset_ = span->offset;
    return &spans_.back();
  }

  std::unique_ptr<icu::Calendar> calendar_;
  const icu::BasicTimeZone* zone_;
  std::vector<OffsetSpan> spans_;
  int32_t lastOffset_ = 0;
};

// The calendar of `timeZone` (UTC, with the warning, for a zone not known); nullptr (logged) when
// ICU cannot make one. Making one copies the zone's whole table of transitions, so each thread
// keeps the calendars it has made; every operation sets the time or clears the fields before it
// reads any.
ZoneCalendar* calendarIn(const std::string& timeZone) {
  thread_local std::unordered_map<std::string, std::unique_ptr<ZoneCalendar>> calendars;
  // The zone asked for last, which the next call most often asks for again.
  thread_local std::string lastName;
  thread_local ZoneCalendar* last = nullptr;
  thread_local bool lastKnown = false;
  if (last != nullptr && timeZone == lastName) {
    if (!lastKnown) SystemTimeZones::knownOrUtc(timeZone);  // the warning, at every call
    return last;
  }

  const std::string zoneName = SystemTimeZones::knownOrUtc(timeZone);
  ZoneCalendar* found = nullptr;
  if (auto entry = calendars.find(zoneName); entry != calendars.end()) {
    found = entry->second.get();
  } else {
    Result<std::unique_ptr<icu::TimeZone>> zone = SystemTimeZones::zone(zoneName);
    if (!zone.ok()) {
      log::error("Calendar unavailable: {}", zone.status().message());
      return nullptr;
    }
    bool arithmetic = arithmeticAgreesWith(**zone);
    UErrorCode status = U_ZERO_ERROR;
    auto calendar =
        std::make_unique<icu::GregorianCalendar>(zone->release(), icu::Locale::getRoot(), status);
    if (U_FAILURE(status)) {
      log::error("Calendar unavailable: {}", u_errorName(status));
      return nullptr;
    }
    calendar->setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
    calendar->setSkippedWallTimeOption(UCAL_WALLTIME_NEXT_VALID);
    if (calendars.size() >= kMaxCalendarsPerThread) {
      calendars.clear();
      last = nullptr;
    }
    found =
        calendars.emplace(zoneName, std::make_unique<ZoneCalendar>(std::move(calendar), arithmetic))
            .first->second.get();
  }
  lastName = timeZone;
  last = found;
  lastKnown = zoneName == timeZone;
  return found;
}

// The local day and time of day of a UTC moment, as ICU's calendar reads them.
struct LocalDay {
  int32_t julianDay;
  int32_t millisInDay;
};

std::optional<LocalDay> localDayByArithmetic(ZoneCalendar& calendar, double millis) {
  std::optional<int32_t> offset = calendar.offsetAt(millis);
  if (!offset) return std::nullopt;
  double local = millis + *offset;
  double days = std::floor(local / kMillisPerDay);
  return LocalDay{static_cast<int32_t>(days) + kEpochJulianDay,
                  static_cast<int32_t>(local - days * kMillisPerDay)};
}

// The UTC moment (ms) of a wall time on a local day, as ICU's calendar resolves it.
std::optional<double> utcByArithmetic(ZoneCalendar& calendar, int32_t julianDay,
                                      int32_t millisInDay) {
  double wall = (static_cast<double>(julianDay) - kEpochJulianDay) * kMillisPerDay + millisInDay;
  return calendar.utcOfWall(wall);
}

// Gregorian date and day count since 1970 (H. Hinnant's algorithms), for days from 1585 on.
void civilFromDays(int64_t days, int& year, int& month, int& day) {
  days += 719468;
  const int64_t era = days / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

int64_t daysFromCivil(int year, int month, int day) {
  const int64_t y = year - (month <= 2 ? 1 : 0);
  const int64_t era = y / 400;
  const int64_t yearOfEra = y - era * 400;
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The length of a month as ICU's Gregorian calendar has it: leap years by the Julian rule
// before 1582, by the Gregorian one from then on.
int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap =
      year >= 1582 ? (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) : (year & 3) == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
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

// The local day and time of day of the UTC moment `millis`.
std::optional<LocalDay> localDayOf(ZoneCalendar& zone, UDate millis) {
  if (std::optional<LocalDay> day = localDayByArithmetic(zone, millis)) return day;
  icu::Calendar& calendar = zone.calendar();
  UErrorCode status = U_ZERO_ERROR;
  calendar.setTime(millis, status);
  LocalDay day{calendar.get(UCAL_JULIAN_DAY, status),
               calendar.get(UCAL_MILLISECONDS_IN_DAY, status)};
  if (U_FAILURE(status)) {
    log::error("Calendar computation failed: {}", u_errorName(status));
    return std::nullopt;
  }
  return day;
}

// The moment a wall time on a local day denotes, or nothing (logged) when ICU fails.
std::optional<UDate> utcOf(ZoneCalendar& zone, int32_t julianDay, int32_t millisInDay) {
  if (std::optional<double> millis = utcByArithmetic(zone, julianDay, millisInDay)) return millis;
  icu::Calendar& calendar = zone.calendar();
  calendar.clear();
  calendar.set(UCAL_JULIAN_DAY, julianDay);
  calendar.set(UCAL_MILLISECONDS_IN_DAY, millisInDay);
  return resolve(calendar);
}

}  // namespace

std::string DateCalendar::systemTimeZoneName() {
  std::string name = SystemTimeZones::localZoneName(ProcessInfo::environmentValue("TZ"));
  return SystemTimeZones::knows(name) ? name : "UTC";
}

Date DateCalendar::dateByAddingDays(Date date, int64_t days, const std::string& timeZone) {
  ZoneCalendar* zone = calendarIn(timeZone);
  if (!std::isfinite(date.secondsSince1970()) || days == 0) return date;
  Date plainMove = date.addingTimeInterval(static_cast<double>(days) * kSecondsPerDay);
  if (zone == nullptr || !inCalendarRange(date) || days > kMaxCalendarDayMove ||
      days < -kMaxCalendarDayMove) {
    return plainMove;
  }

  // The same wall-clock time on the day `days` later: read the local day number and time of
  // day, then resolve them on the new day.
  Millis millis = millisOf(date);
  std::optional<LocalDay> day = localDayOf(*zone, millis.whole);
  if (!day) return plainMove;
  std::optional<UDate> moved =
      utcOf(*zone, day->julianDay + static_cast<int32_t>(days), day->millisInDay);
  if (!moved) return plainMove;
  return Date::fromSecondsSince1970((*moved + millis.fraction) / 1000);
}

DateComponents DateCalendar::dateComponentsDate(Date date, const std::string& timeZone) {
  ZoneCalendar* zone = calendarIn(timeZone);
  if (zone == nullptr || !inCalendarRange(date)) return {};

  DateComponents components;
  const UDate millis = millisOf(date).whole;
  std::optional<LocalDay> day = localDayByArithmetic(*zone, millis);
  if (day && day->julianDay >= kGregorianOnlyFromJulianDay) {
    civilFromDays(day->julianDay - kEpochJulianDay, components.year, components.month,
                  components.day);
    components.hour = day->millisInDay / 3'600'000;
    components.minute = day->millisInDay / 60'000 % 60;
    components.second = day->millisInDay / 1000 % 60;
    components.weekday = (day->julianDay + 1) % 7 + 1;  // Sunday 1, as ICU counts
    return components;
  }

  icu::Calendar& calendar = zone->calendar();
  UErrorCode status = U_ZERO_ERROR;
  calendar.setTime(millis, status);
  components.year = calendar.get(UCAL_EXTENDED_YEAR, status);
  components.month = calendar.get(UCAL_MONTH, status) + 1;
  components.day = calendar.get(UCAL_DATE, status);
  components.hour = calendar.get(UCAL_HOUR_OF_DAY, status);
  components.minute = calendar.get(UCAL_MINUTE, status);
  components.second = calendar.get(UCAL_SECOND, status);
  components.weekday = calendar.get(UCAL_DAY_OF_WEEK, status);
  if (U_FAILURE(status)) {
    log::error("Calendar computation failed: {}", u_errorName(status));
    return {};
  }
  return components;
}

std::optional<Date> DateCalendar::dateFromComponents(int year, int month, int day, int hour,
                                                     int minute, int second,
                                                     const std::string& timeZone) {
  ZoneCalendar* zone = calendarIn(timeZone);
  if (zone == nullptr) return std::nullopt;
  if (year < -kYearLimit || year > kYearLimit || month < 1 || month > 12 || day < 1 || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
    return std::nullopt;
  }
  if (day > daysInMonth(year, month)) return std::nullopt;

  const int32_t millisInDay = ((hour * 60 + minute) * 60 + second) * 1000;
  if (year >= kGregorianOnlyFromYear) {
    int32_t julianDay = static_cast<int32_t>(daysFromCivil(year, month, day)) + kEpochJulianDay;
    if (std::optional<double> millis = utcByArithmetic(*zone, julianDay, millisInDay)) {
      return Date::fromSecondsSince1970(*millis / 1000);
    }
  }

  icu::Calendar& calendar = zone->calendar();
  calendar.clear();
  calendar.set(UCAL_EXTENDED_YEAR, year);
  calendar.set(UCAL_MONTH, month - 1);
  calendar.set(UCAL_DATE, day);
  calendar.set(UCAL_HOUR_OF_DAY, hour);
  calendar.set(UCAL_MINUTE, minute);
  calendar.set(UCAL_SECOND, second);
  calendar.set(UCAL_MILLISECOND, 0);
  std::optional<UDate> millis = resolve(calendar);
  if (!millis) return std::nullopt;
  return Date::fromSecondsSince1970(*millis / 1000);
}

Date DateCalendar::startOfDay(Date date, const std::string& timeZone) {
  ZoneCalendar* zone = calendarIn(timeZone);
  double seconds = date.secondsSince1970();
  if (!std::isfinite(seconds)) return date;
  Date utcStart = Date::fromSecondsSince1970(std::floor(seconds / kSecondsPerDay) * kSecondsPerDay);
  if (zone == nullptr || !inCalendarRange(date)) return utcStart;

  std::optional<LocalDay> day = localDayOf(*zone, millisOf(date).whole);
  if (!day) return utcStart;
  std::optional<UDate> start = utcOf(*zone, day->julianDay, 0);
  if (!start) return utcStart;
  return Date::fromSecondsSince1970(*start / 1000);
}

std::optional<Date> DateCalendar::dateAtTimeOnDay(Date date, int64_t days, int hour, int minute,
                                                  int second, const std::string& timeZone) {
  ZoneCalendar* zone = calendarIn(timeZone);
  if (zone == nullptr || !inCalendarRange(date) || days > kMaxCalendarDayMove ||
      days < -kMaxCalendarDayMove || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59) {
    return std::nullopt;
  }

  std::optional<LocalDay> day = localDayOf(*zone, millisOf(date).whole);
  if (!day) return std::nullopt;
  std::optional<UDate> millis = utcOf(*zone, day->julianDay + static_cast<int32_t>(days),
                                      ((hour * 60 + minute) * 60 + second) * 1000);
  if (!millis) return std::nullopt;
  return Date::fromSecondsSince1970(*millis / 1000);
}

void DateCalendar::setArithmeticForTesting(bool enabled) { arithmeticEnabled = enabled; }

bool DateCalendar::knowsTimeZone(const std::string& timeZone) {
  return SystemTimeZones::knows(timeZone);
}

}  // namespace zelto
