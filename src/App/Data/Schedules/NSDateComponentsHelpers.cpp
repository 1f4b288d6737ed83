#include "App/Data/Schedules/NSDateComponentsHelpers.h"

#include "Platform/DateCalendar.h"

namespace zelto {

CalendarComponents NSDateComponentsHelpers::initWithHourMinute(int64_t hour, int64_t minute) {
  return {.year = 0, .month = 0, .day = 0, .hour = hour, .minute = minute, .second = 0};
}

CalendarComponents NSDateComponentsHelpers::initWithHour(int64_t hour) {
  return initWithHourMinute(hour, 0);
}

CalendarComponents NSDateComponentsHelpers::updateTimeComponents(
    const CalendarComponents& components, Date date, const std::string& timeZone) {
  DateComponents day = DateCalendar::dateComponentsDate(date, timeZone);
  return {.year = day.year,
          .month = day.month,
          .day = day.day,
          .hour = components.hour,
          .minute = components.minute,
          .second = 0};
}

bool NSDateComponentsHelpers::timeComponentsMatch(const CalendarComponents& a,
                                                  const CalendarComponents& b) {
  return a.hour == b.hour && a.minute == b.minute && a.second == b.second;
}

}  // namespace zelto
