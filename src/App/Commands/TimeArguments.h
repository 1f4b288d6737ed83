// TimeArguments: the durations ("25m", "1h30m") and moments ("17:30", an ISO 8601 date) that
// zeltoctl's commands take, read strictly: a text that is not one is refused with a message
// that names it and shows the forms that work.
//
// Class operations only, no state; any thread.
#pragma once

#include <string>

#include "Platform/Date.h"
#include "Platform/Status.h"

namespace zelto {

class TimeArguments {
 public:
  // The longest duration taken: 365 days, in seconds.
  static constexpr double kMaxDuration = 365.0 * 86400;

  // Seconds of a duration such as "90s", "25m", "1h30m", "1h30m15s" or "2d": units d, h, m and
  // s, each at most once and largest first, each after a number written in digits only (no
  // sign, fraction or spaces). Refused: anything else, a bare number, zero, and more than
  // kMaxDuration (however many digits).
  static Result<double> parseDuration(const std::string& text);

  // The moment of "HH:MM" (24-hour clock) in `zone`: that time today, or tomorrow when today's
  // is not after `now`; or of an ISO 8601 date with an offset or Z. Refused: anything else, a
  // moment not after `now`, and a local time the clocks skip on its day (daylight saving).
  static Result<Date> parseTime(const std::string& text, Date now, const std::string& zone);
};

}  // namespace zelto
