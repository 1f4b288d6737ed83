// Clock: where every decision takes its "now" from.
//
// `now()` is the wall clock (it jumps when the user sets the time); `monotonicSeconds()` only
// measures intervals (it never jumps, and its zero point is arbitrary). Production code takes a
// Clock& from its owner or from Env; tests hand in a FakeClock and move it by hand.
//
// Thread safety: SystemClock and FakeClock may be called from any thread.
#pragma once

#include "Platform/Date.h"

namespace zelto {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual Date now() const = 0;
  virtual double monotonicSeconds() const = 0;
};

// The machine's clocks (CLOCK_REALTIME and CLOCK_MONOTONIC).
class SystemClock final : public Clock {
 public:
  Date now() const override;
  double monotonicSeconds() const override;
};

}  // namespace zelto
