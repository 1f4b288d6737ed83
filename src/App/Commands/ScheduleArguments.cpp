#include "App/Commands/ScheduleArguments.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <set>

#include "Platform/Text.h"

namespace zelto {

namespace {

constexpr int32_t kWeekdays = 8;
constexpr int32_t kWeekends = 9;
constexpr int32_t kEveryDay = 10;
constexpr std::array<std::string_view, 7> kDayNames = {"mon", "tue", "wed", "thu",
                                                       "fri", "sat", "sun"};

std::string lowerTrimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  // Day and time words are ASCII; anything else is left as it is, and matches none.
  return Text::asciiLowercase(text);
}

// Minutes since midnight; -1 for a part out of range (such a record never blocks).
int minutesOf(const CalendarComponents& time) {
  int64_t hour = time.hour.value_or(0);
  int64_t minute = time.minute.value_or(0);
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return -1;
  return static_cast<int>(hour * 60 + minute);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<std::vector<int32_t>> ScheduleArguments::parseDays(std::string_view text) {
  const std::string whole = lowerTrimmed(text);
  if (whole == "weekdays") return std::vector<int32_t>{kWeekdays};
  if (whole == "weekends") return std::vector<int32_t>{kWeekends};
  if (whole == "daily") return std::vector<int32_t>{kEveryDay};

  std::set<int32_t> days;
  size_t start = 0;
  while (true) {
    size_t comma = whole.find(',', start);
    std::string name = lowerTrimmed(std::string_view(whole).substr(
        start, comma == std::string::npos ? std::string::npos : comma - start));
    auto found = std::find(kDayNames.begin(), kDayNames.end(), name);
    if (found == kDayNames.end()) return std::nullopt;
    days.insert(static_cast<int32_t>(found - kDayNames.begin()) + 1);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (days == std::set<int32_t>{1, 2, 3, 4, 5}) return std::vector<int32_t>{kWeekdays};
  if (days == std::set<int32_t>{6, 7}) return std::vector<int32_t>{kWeekends};
  if (days.size() == 7) return std::vector<int32_t>{kEveryDay};
  return std::vector<int32_t>(days.begin(), days.end());
}

std::string ScheduleArguments::daysText(int32_t type) {
  if (type >= 1 && type <= 7) return std::string(kDayNames[type - 1]);
  if (type == kWeekdays) return "weekdays";
  if (type == kWeekends) return "weekends";
  if (type == kEveryDay) return "daily";
  return "none";
}

std::optional<int> ScheduleArguments::parseTime(std::string_view text) {
  size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon < 1 || colon > 2 || text.size() != colon + 3) {
    return std::nullopt;
  }
  if (!std::all_of(text.begin(), text.begin() + colon, isDigit) ||
      !std::all_of(text.begin() + colon + 1, text.end(), isDigit)) {
    return std::nullopt;
  }
  int hour = std::stoi(std::string(text.substr(0, colon)));
  int minute = std::stoi(std::string(text.substr(colon + 1)));
  if (hour > 23 || minute > 59) return std::nullopt;
  return hour * 60 + minute;
}

std::string ScheduleArguments::timeText(int minutes) {
  return fmt::format("{:02}:{:02}", minutes / 60, minutes % 60);
}

std::string ScheduleArguments::timeText(const CalendarComponents& time) {
  return fmt::format("{:02}:{:02}", time.hour.value_or(0), time.minute.value_or(0));
}

std::string ScheduleArguments::describe(const ScheduleZeltoPreferences& record) {
  const int from = minutesOf(record.fromDate);
  const int to = minutesOf(record.toDate);
  std::string text = daysText(record.scheduleType) + " " + timeText(record.fromDate) + "-" +
                     timeText(record.toDate);
  if (from < 0 || to < 0) return text + " (a time out of range: never blocks)";
  if (from == to) return text + " (whole day)";
  // An end at 00:00 after a later start ends the day: the plain form, not overnight.
  if (from > to && to != 0) return text + " (overnight)";
  return text;
}

nlohmann::json ScheduleArguments::toJson(const ScheduleZeltoPreferences& record,
                                         const std::set<std::string>& inForce) {
  return {{"id", record.uniqueID},
          {"days", daysText(record.scheduleType)},
          {"from", timeText(record.fromDate)},
          {"to", timeText(record.toDate)},
          {"enabled", record.isEnabled},
          {"sortIndex", record.sortIndex},
          {"inForce", inForce.count(record.uniqueID) > 0}};
}

}  // namespace zelto
