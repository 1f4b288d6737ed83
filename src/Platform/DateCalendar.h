// DateCalendar: calendar-day arithmetic on Date, in the Gregorian calendar of a time zone.
//
// Class operations only; any thread may call any operation at the same time (each thread keeps
// the calendars it has used, one per zone). Each operation takes its zone as a string that
// SystemTimeZones reads, with the system's rules: an IANA name ("Europe/Berlin", "UTC"), a path
// to a zone file or a POSIX rule, as in TZ. An unknown zone is read as "UTC" and logs the warning
// "Unknown time zone {}, using UTC" once for the call.
//
// Wall-clock times that a zone skips or repeats (daylight-saving changes) resolve the same way
// everywhere: a skipped time becomes the first moment that exists after it (02:30 on the day
// clocks go from 02:00 to 03:00 becomes 03:00), a repeated time takes its first occurrence.
//
// The calendar is ICU's Gregorian one, which counts days before 15 October 1582 in the Julian
// calendar, as the platform calendar does. Calendar rules apply to dates within about 300 000
// years of 1970; what happens beyond that, and to dates that are not finite, is stated per
// operation. Nothing here throws.
//
// The answers are ICU's calendar's. Each thread keeps one calendar per zone, and for the zones
// built from the system's rules works most of them out by arithmetic instead, where the zone's
// offset from UTC stays the same well around the moment asked (ICU's calendar finds an offset
// by searching the zone's transitions from the year 2200 back); at a transition, and for zones
// ICU supplies itself, the calendar answers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Platform/Date.h"
#include "Platform/DateComponents.h"

namespace zelto {

class DateCalendar {
 public:
  // The local zone as the C library finds it at the time of the call (TZ, else /etc/localtime;
  // see SystemTimeZones::localZoneName): a name, a path or a rule; "UTC" when the operations here
  // don't know it.
  static std::string systemTimeZoneName();

  // `date` moved by `days` calendar days in `timeZone`, at the same wall-clock time of day, so a
  // day across a daylight-saving change lasts 23 or 25 hours. A date that is not finite comes
  // back unchanged; beyond the calendar's range (or for more than 100 000 000 days) the date
  // moves by 86 400 seconds a day.
  static Date dateByAddingDays(Date date, int64_t days, const std::string& timeZone);

  // The calendar reading of `date` in `timeZone`. Seconds are truncated to whole ones. A date
  // that is not finite or lies beyond the calendar's range has no reading: every field is 0.
  static DateComponents dateComponentsDate(Date date, const std::string& timeZone);

  // The moment that reads year-month-day hour:minute:second in `timeZone`. Nothing for a field
  // out of its range (month 1-12, day within the month, hour 0-23, minute and second 0-59, year
  // within ±250 000): such input is refused, never carried into the next field.
  static std::optional<Date> dateFromComponents(int year, int month, int day, int hour, int minute,
                                                int second, const std::string& timeZone);

  // The first moment of `date`'s calendar day in `timeZone` (midnight, or the first moment after
  // it where a zone skips midnight). A date that is not finite comes back unchanged; beyond the
  // calendar's range the result is the start of the UTC day.
  static Date startOfDay(Date date, const std::string& timeZone);

  // The moment that reads hour:minute:second on the calendar day `days` days after `date`'s day
  // in `timeZone`, skipped and repeated wall times resolved as above. Nothing for a time field out
  // of its range, a date that is not finite or beyond the calendar's range, or a move of more
  // than 100 000 000 days.
  static std::optional<Date> dateAtTimeOnDay(Date date, int64_t days, int hour, int minute,
                                             int second, const std::string& timeZone);

  // Whether the operations here know `timeZone`, in any of its forms (others are read as "UTC").
  static bool knowsTimeZone(const std::string& timeZone);

  // Tests only: with false, the calling thread's operations use ICU's calendar alone.
  static void setArithmeticForTesting(bool enabled);
};

}  // namespace zelto
