// ScheduleArguments: the words of zeltoctl's schedules commands: days ("weekdays", "weekends",
// "daily" or a comma list of mon..sun) to schedule types and back, and times of day ("HH:MM") to
// minutes since midnight and back; and a schedule record for people and for programs.
//
// Class operations only, no state; any thread.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "App/Data/Preferences/CalendarComponents.h"
#include "App/Data/Preferences/ScheduleZeltoPreferences.h"

namespace zelto {

class ScheduleArguments {
 public:
  static constexpr int kMinutesPerDay = 24 * 60;

  // The schedule types `text` asks for, one per record to make: "weekdays" (8), "weekends" (9),
  // "daily" (10), or a comma list of days; a list naming exactly the weekdays, the weekend or
  // every day gives that one type, any other list one type per day (1 Monday to 7 Sunday) in
  // week order. Case and spaces around names don't matter, a day named twice counts once.
  // Nothing for anything else.
  static std::optional<std::vector<int32_t>> parseDays(std::string_view text);
  // The word for a type: "mon".."sun", "weekdays", "weekends", "daily"; "none" for a type that
  // covers no day.
  static std::string daysText(int32_t type);

  // Minutes since midnight of "H:MM" or "HH:MM", 00:00 to 23:59; nothing for anything else.
  static std::optional<int> parseTime(std::string_view text);
  // "HH:MM" of minutes since midnight.
  static std::string timeText(int minutes);
  // "HH:MM" of a record's time of day, unset parts as 0 (out-of-range parts shown as stored).
  static std::string timeText(const CalendarComponents& time);

  // A record for people: "weekdays 09:00-17:00", with " (overnight)" or " (whole day)" for
  // those forms.
  static std::string describe(const ScheduleZeltoPreferences& record);
  // A record for programs: {"id","days","from","to","enabled","sortIndex","inForce"}, in force
  // when its ID is in `inForce`.
  static nlohmann::json toJson(const ScheduleZeltoPreferences& record,
                               const std::set<std::string>& inForce);
};

}  // namespace zelto
