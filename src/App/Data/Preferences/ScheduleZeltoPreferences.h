// ScheduleZeltoPreferences: one weekly recurring blocking period of a profile.
//
// A plain record (see ZeltoBaseJSONModel): `{}` is a valid schedule (off, position 0, type 0,
// 00:00 to 00:00, a newly made identifier). The times of day are stored as {"hour": h,
// "minute": m} with zero parts left out, and read leniently: each part is the integer value
// of whatever is stored (a number's integer part, the integer a text starts with, 1 or 0 for a
// boolean, 0 for anything else or nothing). `isDirty` lives in memory only.
//
// Any thread; whoever shares one serialises its use.
#pragma once

#include <cstdint>
#include <string>

#include "App/Data/Preferences/CalendarComponents.h"
#include "App/Data/Preferences/ZeltoBaseJSONModel.h"

namespace zelto {

class ScheduleZeltoPreferences : public JSONRecord<ScheduleZeltoPreferences> {
 public:
  bool isEnabled = false;    // only a schedule that is on is evaluated
  bool isDirty = false;      // in-memory mark; never read from or written to a file
  uint64_t sortIndex = 0;    // position in the user's list; lists sort ascending by it
  int32_t scheduleType = 0;  // day selector: 1-7 Monday-Sunday, 8 weekdays, 9 weekends, 10 all
  // Start and end of the daily period; only hour and minute are used.
  CalendarComponents fromDate{.hour = 0, .minute = 0};
  CalendarComponents toDate{.hour = 0, .minute = 0};
  std::string uniqueID;  // carried by every period made from this schedule

  static const std::vector<RecordField<ScheduleZeltoPreferences>>& fields();
  // The seven keys; "uniqueID" is a fresh UUID at each call. "isDirty" is listed but, being
  // ignored, never read.
  static nlohmann::json defaultValues();
  // True only for "isDirty", the one field that is never stored.
  static bool propertyIsIgnored(const std::string& name);

  // `schedules` ordered by "sortIndex" ascending; equal indexes keep their order.
  static std::vector<ScheduleZeltoPreferences> sortedBySortIndex(
      std::vector<ScheduleZeltoPreferences> schedules);

  // Set the time of day from its stored form. A value that is not an object reads as 00:00.
  void setFromDateWithNSDictionary(const nlohmann::json& json);
  void setToDateWithNSDictionary(const nlohmann::json& json);
  // The stored form of the time of day: "hour" and "minute" only when not 0 (unset counts as 0).
  nlohmann::json JSONObjectForFromDate() const;
  nlohmann::json JSONObjectForToDate() const;
};

}  // namespace zelto
