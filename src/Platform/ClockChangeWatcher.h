// ClockChangeWatcher: tells when the wall clock jumps: the user or time synchronisation sets
// it, or the machine resumes from sleep (the kernel then announces the jump of the wall clock
// too). Decisions that depend on the time of day use it to look again at once instead of at
// their next timer tick.
//
// `watch` returns a handle; the callback runs on the loop's thread until the handle is
// destroyed. It fails with the reason when the system can't report clock changes, or the loop
// can't watch for them.
//
// Ownership: the handle owns the watch and its descriptor. Threads: the loop's thread only.
#pragma once

#include <functional>
#include <memory>

#include "Platform/RunLoop.h"
#include "Platform/Status.h"

namespace zelto {

class ClockChangeWatcher {
 public:
  static Result<std::unique_ptr<Registration>> watch(RunLoop& loop, std::function<void()> callback);
};

}  // namespace zelto
