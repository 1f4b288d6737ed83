// FakeClock: a clock for tests that moves only when told.
//
// `advance` moves both the wall clock and the monotonic clock; `setNow` moves only the wall
// clock, as a user changing the time does. Thread safety: any thread (values are atomic).
#pragma once

#include <atomic>

#include "Platform/Clock.h"

namespace zelto {

class FakeClock final : public Clock {
 public:
  explicit FakeClock(Date start = Date::fromSecondsSince1970(1'800'000'000)) : now_(start) {}

  Date now() const override { return now_.load(); }
  double monotonicSeconds() const override { return monotonic_.load(); }

  void setNow(Date now) { now_.store(now); }
  void advance(double seconds) {
    now_.store(now_.load().addingTimeInterval(seconds));
    monotonic_.store(monotonic_.load() + seconds);
  }

 private:
  std::atomic<Date> now_;
  std::atomic<double> monotonic_{1000.0};
};

}  // namespace zelto
