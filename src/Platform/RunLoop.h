// RunLoop: one thread's event loop. Timers, signals and work posted from other threads all
// arrive on the loop's thread, one at a time, so what runs there needs no locks.
//
// Ownership: the creator owns the loop; each Registration handle owns its timer or watch and
// ends it when destroyed (destroy handles before the loop). Callbacks registered with `onSignal`
// live as long as the loop.
//
// Thread safety: `post`, `stop` and `isLoopThread` may be called from any thread; everything
// else only on the loop's thread (or before `run` starts, on the thread that will run it).
#pragma once

#include <functional>
#include <memory>

#include "Platform/Registration.h"
#include "Platform/Status.h"

namespace zelto {

class RunLoop {
 public:
  using Callback = std::function<void()>;

  virtual ~RunLoop() = default;

  // Runs until `stop`. The calling thread becomes the loop's thread.
  virtual void run() = 0;
  virtual void stop() = 0;

  // Runs `callback` on the loop's thread soon, after what is already queued.
  virtual void post(Callback callback) = 0;
  virtual bool isLoopThread() const = 0;

  // Fires after `delaySeconds`, then every `repeatSeconds` when that is above zero.
  virtual std::unique_ptr<Registration> addTimer(double delaySeconds, double repeatSeconds,
                                                 Callback callback) = 0;

  // Calls `callback` on the loop's thread each time the process receives `signal`.
  virtual void onSignal(int signal, Callback callback) = 0;

  // Calls `callback` on the loop's thread whenever `fd` is readable (or has hung up or failed),
  // until the returned handle is cancelled or destroyed. The caller keeps owning `fd` and closes
  // it only after the handle is gone. Fails, naming the descriptor and the reason, when the loop
  // can't watch it (not open, a kind of file that can't be polled, already watched here); the
  // callback is then never called.
  virtual Result<std::unique_ptr<Registration>> watchReadable(int fd, Callback callback) = 0;
};

}  // namespace zelto
