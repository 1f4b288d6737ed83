// CalendarComponents: a date split into calendar parts, any of which may be unset.
//
// Schedules use only hour and minute (a time of day); the other parts are carried so that a
// value can describe a date as well. Unset parts are std::nullopt; where a value has to be
// written as a plain number (an export), an unset part is written as kUndefined.
//
// A plain value, copied freely. Any thread.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>

namespace zelto {

struct CalendarComponents {
  // The number an unset part is written as.
  static constexpr int64_t kUndefined = std::numeric_limits<int64_t>::max();

  std::optional<int64_t> year = std::nullopt;
  std::optional<int64_t> month = std::nullopt;
  std::optional<int64_t> day = std::nullopt;
  std::optional<int64_t> hour = std::nullopt;
  std::optional<int64_t> minute = std::nullopt;
  std::optional<int64_t> second = std::nullopt;

  bool operator==(const CalendarComponents&) const = default;
};

}  // namespace zelto
