// DispatchQueue: a concurrent work queue on a small fixed pool of worker threads.
//
// `async` hands a task to the pool and returns at once; tasks start in the order given but run
// concurrently, one per worker. `apply(count, step)` runs step(i) for every i in [0, count)
// across the workers and the calling thread together, and returns only when every step has
// finished. Because the caller keeps pulling steps itself until none is left, `apply` finishes
// even when every worker is busy, in particular when it is called from inside a worker of the
// same queue (nested apply). `global()` is the process-wide default-priority concurrent queue.
//
// Failures: a task given to `async` that throws is caught on its worker and logged at error
// level. When a step of `apply` throws, the steps not yet started are skipped, and `apply`
// rethrows the first exception on the caller once every running step has finished.
//
// Lifetime: destroying a queue lets the workers finish the tasks already queued and then joins
// them (a queue destroyed on one of its own workers, e.g. by a task that held its last
// reference, detaches that one worker instead). The global queue is created on first use and
// never destroyed: its workers stay parked until the process exits, so exit never waits for
// them.
//
// Thread safety: every operation may be called from any thread.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace zelto {

class DispatchQueue {
 public:
  using Task = std::function<void()>;
  using Step = std::function<void(size_t)>;

  // `threadCount` 0 means one worker per hardware thread; the pool has at least 2 workers.
  explicit DispatchQueue(size_t threadCount = 0);
  ~DispatchQueue();
  DispatchQueue(const DispatchQueue&) = delete;
  DispatchQueue& operator=(const DispatchQueue&) = delete;

  // The process-wide default-priority concurrent queue (created once, never destroyed).
  static std::shared_ptr<DispatchQueue> global();

  // Fire-and-forget: `task` runs on some worker later. An empty task is ignored.
  void async(Task task);

  // Runs step(i) for each i in [0, count), in no fixed order and possibly concurrently, and
  // returns when all have finished. count 0 returns at once without calling `step`. Steps are
  // claimed in small chunks of consecutive indexes, so cheap steps don't contend per index.
  void apply(size_t count, const Step& step);

  size_t threadCount() const { return workers_.size(); }

  // True when the calling thread is one of this queue's workers.
  bool isCurrentWorker() const;

 private:
  struct State;
  static void workerLoop(const std::shared_ptr<State>& state);

  std::shared_ptr<State> state_;
  std::vector<std::thread> workers_;
};

}  // namespace zelto
