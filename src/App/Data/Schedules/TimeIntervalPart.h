// TimeIntervalPart: one unit of a duration in words, such as 2 "hours", as
// NSTimeIntervalFormatter splits it.
//
// A plain value: copy it freely, from any thread. `label` is "day", "hour", "minute" or "second",
// with an "s" appended when `amount` is not 1; `amount` is at least 1.
#pragma once

#include <cstdint>
#include <string>

namespace zelto {

struct TimeIntervalPart {
  std::string label;
  int64_t amount = 0;

  bool operator==(const TimeIntervalPart&) const = default;
};

}  // namespace zelto
