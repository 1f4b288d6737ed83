// Registration: the handle of something registered with a run loop or a watcher: a timer, a
// watched descriptor, a file watch, a clock-change watch. Destroying the handle (or `cancel`)
// ends the registration; nothing registered through it runs afterwards.
//
// Ownership: whoever receives the handle owns the registration. Threads: the thread of the loop
// it was registered with.
#pragma once

namespace zelto {

class Registration {
 public:
  virtual ~Registration() = default;
  virtual void cancel() = 0;
};

}  // namespace zelto
