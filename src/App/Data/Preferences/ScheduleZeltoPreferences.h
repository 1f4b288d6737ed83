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
#include "App/Data/Schedules/NormalizedScheduleItem.h"
#include "Platform/Date.h"

namespace zelto {

class ScheduleZeltoPreferences : public JSONRecord<ScheduleZeltoPreferences> {
 public:
  // Every field starts zero, false or empty (a time of day at 00:00); the defaults are in the
  // field table only.
  bool isEnabled{};        // only a schedule that is on is evaluated
  bool isDirty{};          // in-memory mark; never read from or written to a file
  uint64_t sortIndex{};    // position in the user's list; lists sort ascending by it
  int32_t scheduleType{};  // day selector: 1-7 Monday-Sunday, 8 weekdays, 9 weekends, 10 all
  // Start and end of the daily period; only hour and minute are used.
  CalendarComponents fromDate{.hour = 0, .minute = 0};
  CalendarComponents toDate{.hour = 0, .minute = 0};
  std::string uniqueID;  // carried by every period made from this schedule

  // The fields and their seven defaults; "uniqueID" is a fresh UUID each time the defaults are
  // built. "isDirty" is listed with its default but, being ignored, never read nor written.
  static const std::vector<RecordField<ScheduleZeltoPreferences>>& fields();
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

  // The blocking periods of this schedule whose start time falls after `start` and at or before
  // `end`, in `timeZone`, in time order. For each such day the schedule covers:
  //  - start and end equal: the whole day, from its first moment to the next day's;
  //  - start after end (overnight): the day's first moment to its end time, then its start
  //    time to the next day's first moment, both on that day;
  //  - otherwise the start time to the end time.
  // A start or end time that a zone skips resolves to the first moment after it; one it repeats
  // takes its first occurrence. Periods that would be empty there are left out. Nothing for a
  // schedule that is off, an end not after the start, a date that is not finite, or an hour
  // outside 0-23 or a minute outside 0-59 (an unset part counts as 0). An unknown zone is read
  // as "UTC" (logged once). Implemented in Schedules/ScheduleNormalization.cpp.
  std::vector<NormalizedScheduleItem> normalizeWithStartDate(Date start, Date end,
                                                             const std::string& timeZone) const;
};

}  // namespace zelto
