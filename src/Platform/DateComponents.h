// DateComponents: the calendar reading of a moment in one time zone, as DateCalendar gives it.
//
// A plain value: copy it freely, from any thread. `year` counts astronomically (0 is the year
// before 1), `month` runs 1 to 12 and `weekday` 1 (Sunday) to 7 (Saturday). All fields are 0
// when the moment has no calendar day (see DateCalendar::dateComponentsDate).
#pragma once

namespace zelto {

struct DateComponents {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int weekday = 0;

  bool operator==(const DateComponents&) const = default;
};

}  // namespace zelto
