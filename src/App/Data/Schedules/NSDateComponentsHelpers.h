// NSDateComponentsHelpers: making and comparing the times of day that schedule records hold.
//
// Class operations only, no state; any thread.
#pragma once

#include <string>

#include "App/Data/Preferences/CalendarComponents.h"
#include "Platform/Date.h"

namespace zelto {

class NSDateComponentsHelpers {
 public:
  // hour:minute, second 0, and day, month and year 0.
  static CalendarComponents initWithHourMinute(int64_t hour, int64_t minute);
  // hour:00, second 0, and day, month and year 0.
  static CalendarComponents initWithHour(int64_t hour);

  // The calendar day of `date` in `timeZone` (year, month, day; all 0 when the date has no
  // calendar reading) at the hour and minute of `components`, second 0.
  static CalendarComponents updateTimeComponents(const CalendarComponents& components, Date date,
                                                 const std::string& timeZone);

  // Equal hour, minute and second (an unset part equals only an unset part).
  static bool timeComponentsMatch(const CalendarComponents& a, const CalendarComponents& b);
};

}  // namespace zelto
