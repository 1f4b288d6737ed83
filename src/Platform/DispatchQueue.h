// DispatchQueue: the one kind of work queue of this project, in three forms.
//
// - A concurrent queue (`DispatchQueue(threadCount)`, and `global()`, the process-wide one): a
//   small fixed pool of worker threads. `async` hands a task to the pool and returns at once;
//   tasks start in the order given but run concurrently, one per worker. `apply(count, step)`
//   runs step(i) for every i in [0, count) across the workers and the calling thread together,
//   and returns only when every step has finished. Because the caller keeps pulling steps itself
//   until none is left, `apply` finishes even when every worker is busy, in particular when it is
//   called from inside a worker of the same queue (nested apply).
// - A serial queue (`DispatchQueue(name, startSuspended)`): its tasks run one at a time, in the
//   order given, on the workers of the global queue; it has no thread of its own. It may start
//   suspended: tasks given meanwhile wait until `resume`.
// - The blocking-calls queue (`blocking()`): serial, with the one worker thread of its own on
//   which calls into libraries that may block for long (an HTTP exchange, a D-Bus call) are
//   made, so that they hold up neither the run loop nor the pool.
// `isCurrent` tells a task's code that it already runs on this queue (on a worker of a
// concurrent queue, or inside a task of a serial one), so that it can run nested work at once.
//
// Failures: a task given to `async` that throws is caught and logged at error level; the queue
// goes on with the next one. When a step of `apply` throws, the steps not yet started are
// skipped, and `apply` rethrows the first exception on the caller once every running step has
// finished.
//
// Lifetime: destroying a queue lets it finish the tasks already queued (and, for a serial queue,
// those its tasks queue meanwhile; a suspended one is resumed), and waits for them; a queue
// destroyed by one of its own tasks leaves them to finish alone instead. The global and the
// blocking-calls queues are created on first use and never destroyed: their workers stay parked
// until the process exits, so exit never waits for them.
//
// Thread safety: every operation may be called from any thread.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace zelto {

class DispatchQueue {
 public:
  using Task = std::function<void()>;
  using Step = std::function<void(size_t)>;

  // A concurrent queue. `threadCount` 0 means one worker per hardware thread; the pool has at
  // least 2 workers.
  explicit DispatchQueue(size_t threadCount = 0);
  // A serial queue on the global queue's workers.
  explicit DispatchQueue(std::string name, bool startSuspended = false);
  ~DispatchQueue();
  DispatchQueue(const DispatchQueue&) = delete;
  DispatchQueue& operator=(const DispatchQueue&) = delete;

  // The process-wide default-priority concurrent queue (created once, never destroyed).
  static std::shared_ptr<DispatchQueue> global();
  // The serial queue whose one worker makes blocking library calls (created once, never
  // destroyed).
  static DispatchQueue& blocking();

  const std::string& name() const;
  bool isSerial() const;

  // Fire-and-forget: `task` runs later. An empty task is ignored.
  void async(Task task);
  // Lets a suspended serial queue run its tasks; nothing otherwise.
  void resume();

  // Runs step(i) for each i in [0, count), in no fixed order and possibly concurrently, and
  // returns when all have finished. count 0 returns at once without calling `step`. Steps are
  // claimed in small chunks of consecutive indexes, so cheap steps don't contend per index. On a
  // serial queue, the steps run on the global queue.
  void apply(size_t count, const Step& step);

  size_t threadCount() const { return workers_.size(); }

  // True when the calling thread runs this queue's work now.
  bool isCurrent() const;
  bool isCurrentWorker() const { return isCurrent(); }

 private:
  struct State;
  struct Serial;
  DispatchQueue(size_t threadCount, std::string name);
  static void workerLoop(const std::shared_ptr<State>& state);
  static void drainSerial(const std::shared_ptr<Serial>& serial);
  static void runTask(const Task& task, const std::string& name, bool serial);

  std::shared_ptr<State> state_;    // concurrent and blocking-calls queues
  std::shared_ptr<Serial> serial_;  // serial queues on the global queue
  std::vector<std::thread> workers_;
};

}  // namespace zelto
