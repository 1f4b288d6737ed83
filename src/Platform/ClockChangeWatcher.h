// ClockChangeWatcher: tells when the wall clock jumps: the user or time synchronisation sets
// it, or the machine resumes from sleep (the kernel then announces the jump of the wall clock
// too). Decisions that depend on the time of day use it to look again at once instead of at
// their next timer tick.
//
// `watch` returns a handle; the callback runs on the loop's thread until the handle is
// destroyed. It fails with the reason when the system can't report clock changes, or the loop
// can't watch for them.
//
// The watch rests on a timer set far ahead of the wall clock's "now" (a century, at most as
// far as the system can count), and set again whenever it expires, so it keeps listening
// whatever the date. `clock` tells that "now"; the machine's clock unless a test says otherwise.
//
// Ownership: the handle owns the watch and its descriptor; `clock` must outlive the handle.
// Threads: the loop's thread only.
#pragma once

#include <functional>
#include <memory>

#include "Platform/Clock.h"
#include "Platform/RunLoop.h"
#include "Platform/Status.h"

namespace zelto {

class ClockChangeWatcher {
 public:
  static Result<std::unique_ptr<Registration>> watch(RunLoop& loop, std::function<void()> callback);
  static Result<std::unique_ptr<Registration>> watch(RunLoop& loop, std::function<void()> callback,
                                                     const Clock& clock);
};

}  // namespace zelto
