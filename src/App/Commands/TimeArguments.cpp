#include "App/Commands/TimeArguments.h"

#include <fmt/format.h>

#include <cctype>
#include <cstdint>
#include <optional>

#include "App/Data/Preferences/JSONValues.h"
#include "Platform/DateCalendar.h"

namespace zelto {

namespace {

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

Status notADuration(const std::string& text) {
  return Status::failure(fmt::format("\"{}\" is not a duration; use e.g. 25m, 1h30m or 90s", text));
}

Status notATime(const std::string& text) {
  return Status::failure(
      fmt::format("\"{}\" is not a time; use e.g. 17:30 (today, or tomorrow when it has passed) or "
                  "2026-12-09T17:30:00+01:00",
                  text));
}

// The hour and minute of "H:MM" or "HH:MM", in range; nothing for any other text.
std::optional<std::pair<int, int>> clockTime(const std::string& text) {
  const size_t colon = text.find(':');
  if (colon != 1 && colon != 2) return std::nullopt;
  if (text.size() != colon + 3) return std::nullopt;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i != colon && !isDigit(text[i])) return std::nullopt;
  }
  const int hour = std::stoi(text.substr(0, colon));
  const int minute = std::stoi(text.substr(colon + 1));
  if (hour > 23 || minute > 59) return std::nullopt;
  return std::make_pair(hour, minute);
}

}  // namespace

Result<double> TimeArguments::parseDuration(const std::string& text) {
  static constexpr struct {
    char unit;
    uint64_t seconds;
  } kUnits[] = {{'d', 86400}, {'h', 3600}, {'m', 60}, {'s', 1}};
  // Every number is bounded as it is read: anything beyond the longest duration is refused
  // anyway, so there is no need to hold more (and no way to wrap).
  constexpr uint64_t kMax = static_cast<uint64_t>(kMaxDuration);
  if (text.empty()) return notADuration(text);
  uint64_t total = 0;
  bool tooLong = false;
  size_t nextUnit = 0;  // units must come largest first, each at most once
  size_t at = 0;
  while (at < text.size()) {
    const size_t start = at;
    uint64_t number = 0;
    while (at < text.size() && isDigit(text[at])) {
      number = number * 10 + static_cast<uint64_t>(text[at] - '0');
      if (number > kMax) {
        tooLong = true;
        number = kMax + 1;  // stays bounded however many digits follow
      }
      ++at;
    }
    if (at == start) return notADuration(text);
    if (at == text.size()) {
      if (start == 0) {
        return Status::failure(
            fmt::format("\"{}\" is not a duration; add a unit: {}m", text, text));
      }
      return notADuration(text);
    }
    size_t unit = nextUnit;
    while (unit < std::size(kUnits) && kUnits[unit].unit != text[at]) ++unit;
    if (unit == std::size(kUnits)) return notADuration(text);
    nextUnit = unit + 1;
    ++at;
    if (!tooLong) {
      total += number * kUnits[unit].seconds;  // at most 365 days x 86400: no overflow
      if (total > kMax) tooLong = true;
    }
  }
  if (tooLong) {
    return Status::failure(fmt::format("\"{}\" is too long; at most 365 days (365d)", text));
  }
  if (total == 0) return Status::failure(fmt::format("\"{}\" is no time at all", text));
  return static_cast<double>(total);
}

Result<Date> TimeArguments::parseTime(const std::string& text, Date now, const std::string& zone) {
  std::optional<Date> moment;
  if (auto clock = clockTime(text)) {
    const auto [hour, minute] = *clock;
    for (int64_t days = 0; days <= 1 && !moment; ++days) {
      // A repeated local time (the clocks go back) resolves to its first occurrence: "02:30"
      // on such a day is the earlier of the two, as a person setting it would mean.
      std::optional<Date> candidate =
          DateCalendar::dateAtTimeOnDay(now, days, hour, minute, 0, zone);
      if (!candidate) return notATime(text);
      if (days == 0 && !candidate->isGreaterDate(now)) continue;
      const DateComponents read = DateCalendar::dateComponentsDate(*candidate, zone);
      if (read.hour != hour || read.minute != minute) {
        // The calendar moved a skipped time to the first that exists; a start or end at a
        // time that doesn't happen is a mistake to point out, not to guess at.
        return Status::failure(fmt::format(
            "\"{}\" does not exist on {:04}-{:02}-{:02} in {}: the clocks skip it (daylight "
            "saving); pick another time",
            text, read.year, read.month, read.day, zone));
      }
      moment = candidate;
    }
  } else {
    moment = JSONValues::parseDate(text);
    if (!moment) return notATime(text);
  }
  if (!moment->isGreaterDate(now)) {
    return Status::failure(fmt::format("\"{}\" is not in the future", text));
  }
  return *moment;
}

}  // namespace zelto
