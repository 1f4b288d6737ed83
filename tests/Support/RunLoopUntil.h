// RunLoopUntil: runs a run loop until a condition holds, or fails after a generous bound; or
// until what is posted to it has run.
//
// The condition is looked at every few milliseconds from a timer on the loop itself, so all
// that the loop runs (timers, descriptor watches, posted work) happens on the test's thread.
// Returns true when the condition held; false when the bound ran out first (the caller's
// assertion then fails the test instead of hanging it).
#pragma once

#include <functional>

#include "Platform/RunLoop.h"

namespace zelto::testing {

inline bool runLoopUntil(RunLoop& loop, const std::function<bool()>& condition,
                         double boundSeconds = 10.0) {
  if (condition()) return true;
  bool held = false;
  auto poll = loop.addTimer(0.005, 0.005, [&] {
    if (condition()) {
      held = true;
      loop.stop();
    }
  });
  auto bound = loop.addTimer(boundSeconds, 0, [&] { loop.stop(); });
  loop.run();
  return held;
}

// Runs the loop until what is already posted to it has run (with whatever its descriptors and
// timers have ready by then), then returns; false when that didn't happen within the bound.
inline bool runPosted(RunLoop& loop) {
  bool reached = false;
  loop.post([&] { reached = true; });
  return runLoopUntil(loop, [&] { return reached; });
}

}  // namespace zelto::testing
