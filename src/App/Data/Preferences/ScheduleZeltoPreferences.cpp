#include "App/Data/Preferences/ScheduleZeltoPreferences.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Platform/UUID.h"

namespace zelto {

namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

// The decimal integer at the start of `text`, after optional white space and one sign; 0 when
// there is none. Values beyond 64 bits stop at the nearest limit.
int64_t leadingInteger(const std::string& text) {
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  int64_t value = 0;  // accumulated with the sign applied, so that the minimum is reachable
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    int digit = text[at] - '0';
    if (negative) {
      value = value < (kMin + digit) / 10 ? kMin : value * 10 - digit;
    } else {
      value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
  }
  return value;
}

// The integer value of a stored time part: a number's integer part (truncated toward zero;
// beyond 64 bits it stops at the nearest limit, NaN gives 0), a text's leading integer, 1 or 0
// for a boolean, and 0 for anything else.
int64_t integerValue(const nlohmann::json& value) {
  if (value.is_number_unsigned()) {
    uint64_t u = value.get<uint64_t>();
    return u > static_cast<uint64_t>(kMax) ? kMax : static_cast<int64_t>(u);
  }
  if (value.is_number_integer()) return value.get<int64_t>();
  if (value.is_number_float()) {
    double d = value.get<double>();
    if (std::isnan(d)) return 0;
    if (d >= 9223372036854775808.0) return kMax;
    if (d < -9223372036854775808.0) return kMin;
    return static_cast<int64_t>(d);  // truncates toward zero
  }
  if (value.is_string()) return leadingInteger(value.get_ref<const std::string&>());
  if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
  return 0;
}

CalendarComponents timeOfDayFromJSON(const nlohmann::json& json) {
  CalendarComponents components;
  components.hour = 0;
  components.minute = 0;
  if (!json.is_object()) return components;
  if (auto it = json.find("hour"); it != json.end()) components.hour = integerValue(*it);
  if (auto it = json.find("minute"); it != json.end()) components.minute = integerValue(*it);
  return components;
}

nlohmann::json timeOfDayToJSON(const CalendarComponents& components) {
  nlohmann::json json = nlohmann::json::object();
  if (int64_t hour = components.hour.value_or(0); hour != 0) json["hour"] = hour;
  if (int64_t minute = components.minute.value_or(0); minute != 0) json["minute"] = minute;
  return json;
}

}  // namespace

const std::vector<RecordField<ScheduleZeltoPreferences>>& ScheduleZeltoPreferences::fields() {
  using S = ScheduleZeltoPreferences;
  static const std::vector<RecordField<S>> table{
      fields::flag("isEnabled", &S::isEnabled, false),
      fields::uint64("sortIndex", &S::sortIndex, 0),
      fields::int32("scheduleType", &S::scheduleType, 0),
      fields::ignored<S>("isDirty", false),
      fields::custom<S>(
          "fromDate",
          [](S& s, const nlohmann::json& v, const std::string&) {
            s.setFromDateWithNSDictionary(v);
            return Status::success();
          },
          [](const S& s) { return s.JSONObjectForFromDate(); }, nlohmann::json::object()),
      fields::custom<S>(
          "toDate",
          [](S& s, const nlohmann::json& v, const std::string&) {
            s.setToDateWithNSDictionary(v);
            return Status::success();
          },
          [](const S& s) { return s.JSONObjectForToDate(); }, nlohmann::json::object()),
      fields::text("uniqueID", &S::uniqueID, [] { return UUID::generateString(); }),
  };
  return table;
}

bool ScheduleZeltoPreferences::propertyIsIgnored(const std::string& name) {
  return keyIsIgnored(name);
}

void ScheduleZeltoPreferences::setFromDateWithNSDictionary(const nlohmann::json& json) {
  fromDate = timeOfDayFromJSON(json);
}

void ScheduleZeltoPreferences::setToDateWithNSDictionary(const nlohmann::json& json) {
  toDate = timeOfDayFromJSON(json);
}

nlohmann::json ScheduleZeltoPreferences::JSONObjectForFromDate() const {
  return timeOfDayToJSON(fromDate);
}

nlohmann::json ScheduleZeltoPreferences::JSONObjectForToDate() const {
  return timeOfDayToJSON(toDate);
}

std::vector<ScheduleZeltoPreferences> ScheduleZeltoPreferences::sortedBySortIndex(
    std::vector<ScheduleZeltoPreferences> schedules) {
  std::stable_sort(schedules.begin(), schedules.end(),
                   [](const auto& a, const auto& b) { return a.sortIndex < b.sortIndex; });
  return schedules;
}

}  // namespace zelto
