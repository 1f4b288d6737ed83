// NSTimeIntervalFormatter: fixed English texts for a number of seconds, as the blocker shows
// remaining times: word forms ("1 hour 2 minutes 5 seconds") and a clock form ("05:09",
// "25:00:00").
//
// Class operations only, no state: any thread may call them. Nothing is localised. An interval
// that is not a number or is infinite has no length to show: word forms give "0 seconds" and
// the clock form "00:00".
#pragma once

#include <string>
#include <vector>

#include "App/Data/Schedules/TimeIntervalPart.h"

namespace zelto {

class NSTimeIntervalFormatter {
 public:
  // The non-zero units of |t| rounded to whole seconds (halves away from zero), largest first:
  // days, hours, minutes, seconds. Empty when that rounds to 0. The sign of t is dropped.
  // Intervals beyond the largest 64-bit count of seconds count as that many.
  static std::vector<TimeIntervalPart> rawPartsForTimeInterval(double t);

  // The amount, one space, the label: "2 hours", "1 minute".
  static std::string formatTimeIntervalPart(const TimeIntervalPart& part);

  // Every part, joined by single spaces; "0 seconds" when there is none.
  static std::string relativeTimeForInterval(double t);

  // The largest part only; "0 seconds" when there is none.
  static std::string shortRelativeTimeForInterval(double t);

  // The largest part with "minutes", "hours" and "seconds" made singular ("25 minute"); "days"
  // stays as it is. "0 seconds" when there is none.
  static std::string singularRelativeTimeForInterval(double t);

  // Clock form of t truncated to whole seconds: "mm:ss" below an hour, else "hh:mm:ss" with
  // hours not wrapped at 24. Fields are printed as "%02ld" prints them, so a negative interval
  // shows its minus signs inside the fields (minus one second is "00:-1").
  static std::string stringFromTimeInterval(double t);
};

}  // namespace zelto
