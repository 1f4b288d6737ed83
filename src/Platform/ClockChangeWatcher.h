// ClockChangeWatcher: tells when the wall clock jumps: the user or time synchronisation sets
// it, or the machine resumes from sleep (the kernel then announces the jump of the wall clock
// too). Decisions that depend on the time of day use it to look again at once instead of at
// their next timer tick.
//
// `watch` returns a handle; the callback runs on the loop's thread until the handle is
// destroyed. Loop thread only.
#pragma once

#include <functional>
#include <memory>

#include "Platform/RunLoop.h"

namespace zelto {

class ClockChangeWatcher {
 public:
  // Nothing (and a logged warning) when the system can't report clock changes.
  static std::unique_ptr<Registration> watch(RunLoop& loop, std::function<void()> callback);
};

}  // namespace zelto
