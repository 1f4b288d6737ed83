// ScheduleHelpers: the questions asked of schedule records and of the blocking periods made
// from them: which days a schedule type covers, the day number of a date, the period in force
// at a moment and how far an unbroken run of periods reaches, the generated schedule of many
// records, and the end of a scheduled period as the user sees it.
//
// Day numbers run from 1 (Monday) to 7 (Sunday); 0 means no day. Schedule types: 1-7 one day,
// 8 weekdays, 9 weekends, 10 every day, anything else no day. Every calendar question takes its
// time zone (an IANA name) as an argument.
//
// Class operations only, no state of their own (calendars are DateCalendar's, one per thread
// and zone; formatters are made per call), so any thread may call them, except
// `createDefaultSchedule`, which changes the shared main record and runs where that record is used.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "App/Data/Preferences/ScheduleZeltoPreferences.h"
#include "App/Data/Schedules/NormalizedScheduleItem.h"
#include "Platform/Date.h"
#include "Platform/Status.h"

namespace zelto {

class ScheduleHelpers {
 public:
  // Whether schedule type `type` covers day number `day`.
  static bool scheduleTypesMatch(int32_t type, int32_t day);
  static bool scheduleTypeIsWeekend(int64_t value);    // 6 or 7
  static bool scheduleTypeIsWeekday(int64_t value);    // 1 to 5
  static bool scheduleTypeIsDayOfWeek(int64_t value);  // 1 to 7

  // The full weekday name of `date`'s day in `timeZone`, in the current locale.
  static std::string dayOfWeekForDate(Date date, const std::string& timeZone);
  // The day number (Monday 1 to Sunday 7) of `date`'s day in `timeZone`; 0 for a date without
  // a calendar day. It does not depend on the locale or its first day of the week.
  static int32_t scheduleTypeForDate(Date date, const std::string& timeZone);
  // The first day a type covers: 8 and 10 give 1, 9 gives 6, any other value itself.
  static int32_t getAbsoluteScheduleTypeForScheduleType(int32_t type);

  // The three questions of Schedule (getActiveScheduleItemForDate and the two after it) asked
  // of a plain list, which is indexed for each call; a Schedule answers them without that.
  //
  // Of the periods containing `date`, the one that ends last; among equal ends the one latest
  // in the list. Nothing when none contains it.
  static std::optional<NormalizedScheduleItem> getActiveScheduleItemFrom(
      const std::vector<NormalizedScheduleItem>& items, Date date);
  // The unbroken run from `date`: the period in force at `date`, then the one in force at its
  // end, and so on. Touching and overlapping periods chain; any gap ends the run.
  static std::vector<NormalizedScheduleItem> getScheduleItemChainFrom(
      const std::vector<NormalizedScheduleItem>& items, Date date);
  // The last period of that run, whose end is the end of the blocking; nothing when the run is
  // empty.
  static std::optional<NormalizedScheduleItem> getLastActiveScheduleItemFrom(
      const std::vector<NormalizedScheduleItem>& items, Date date);

  // The periods of every record in (start, end], the records' periods one record after another
  // in the records' order (not sorted across records).
  static std::vector<NormalizedScheduleItem> generatedScheduleForItems(
      const std::vector<ScheduleZeltoPreferences>& records, Date start, Date end,
      const std::string& timeZone);

  // When a scheduled period ending at `end` ends, seen from `now`, in `timeZone` and the current
  // locale: "" without an end, "∞" for an end seven days or more ahead, the weekday and time
  // for an end a day or more ahead, else the time alone; 24-hour times when the menu-bar
  // clock shows them.
  static std::string unblockScheduleTimeWithDate(Date now, std::optional<Date> end,
                                                 const std::string& timeZone);
  // Whether the menu-bar clock's "DateFormat" shows 24-hour times (contains "H:mm").
  static bool isSystemClockFormat24Hr();

  // Appends two switched-off schedules, each with a new identifier (weekdays and weekends,
  // 09:00-17:00, positions 0 and 1) to the shared record's default profile and saves the record.
  // Success when saved; a failure (logged) when the save failed or there is no shared record.
  static Status createDefaultSchedule();
};

}  // namespace zelto
