// Date: an absolute moment, held as seconds (double precision) since 1970-01-01 00:00:00 UTC.
//
// A plain value type: copy it freely, from any thread. Comparisons are on the absolute moment,
// so two dates are equal exactly when they denote the same instant, whatever zone they were
// read in. Calendar questions (days, weekdays, times of day) need a time zone and live in
// DateCalendar; this type knows nothing of calendars.
#pragma once

#include <compare>

namespace zelto {

class Date {
 public:
  constexpr Date() = default;

  static constexpr Date fromSecondsSince1970(double seconds) { return Date(seconds); }
  static constexpr Date distantPast() { return Date(-62135596800.0); }   // 0001-01-01T00:00:00Z
  static constexpr Date distantFuture() { return Date(32503680000.0); }  // 3000-01-01T00:00:00Z

  constexpr double secondsSince1970() const { return seconds_; }

  // The date moved by a number of seconds (negative moves it back).
  constexpr Date addingTimeInterval(double seconds) const { return Date(seconds_ + seconds); }

  // Seconds from `other` to this date: positive when this date is later.
  constexpr double timeIntervalSinceDate(Date other) const { return seconds_ - other.seconds_; }

  constexpr bool isGreaterDate(Date other) const { return seconds_ > other.seconds_; }
  constexpr bool isLessDate(Date other) const { return seconds_ < other.seconds_; }
  constexpr bool isLessOrEqualToDate(Date other) const { return seconds_ <= other.seconds_; }
  constexpr bool isGreaterOrEqualToDate(Date other) const { return seconds_ >= other.seconds_; }

  constexpr auto operator<=>(const Date&) const = default;

 private:
  constexpr explicit Date(double seconds) : seconds_(seconds) {}
  double seconds_ = 0;
};

}  // namespace zelto
