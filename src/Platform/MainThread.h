// MainThread: which thread is the main one, and a way to run work there and wait for it.
//
// The process's main run loop marks its thread as the main thread and installs an executor that
// posts a task to it. `runAndWait` runs a task on the main thread: at once when called there,
// otherwise posted through the executor while the caller waits for it to finish. Calling it
// from a thread that the main thread is itself waiting for never returns; callers don't.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <functional>

namespace zelto {

class MainThread {
 public:
  using Task = std::function<void()>;
  using Executor = std::function<void(Task)>;

  // Makes the calling thread the main thread. The thread that first loads the library is the
  // main thread until this is called.
  static void markCurrentThread();
  static bool isMainThread();

  // Installed by the main run loop for as long as it runs; pass nullptr to remove it.
  static void setExecutor(Executor executor);

  // Runs `task` on the main thread and returns when it has finished. Without an executor (no
  // main loop runs, as in some tools and tests) a task from another thread runs on the calling
  // thread instead, so that nobody waits for a loop that will never turn.
  static void runAndWait(const Task& task);
};

}  // namespace zelto
