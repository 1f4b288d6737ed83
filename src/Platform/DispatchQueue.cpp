#include "Platform/DispatchQueue.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

#include "Platform/Log.h"

namespace zelto {

// Everything the workers touch. Each worker holds its own reference, so a worker that outlives
// its queue object (see the destructor) still finds its state alive.
struct DispatchQueue::State {
  std::string name;  // empty for a concurrent queue
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Task> tasks;
  bool stopping = false;
};

// A serial queue: its tasks, and whether a drain of them is handed to the global queue. The
// drain holds its own reference, so it outlives a queue destroyed by one of its tasks.
struct DispatchQueue::Serial {
  std::string name;
  std::mutex mutex;
  std::condition_variable drained;
  std::deque<Task> tasks;
  bool suspended = false;
  bool scheduled = false;  // a drain is queued or running
};

namespace {

// The state of the queue whose work the current thread runs now; null on other threads.
thread_local const void* currentWorkerState = nullptr;

// One `apply` call, shared by the caller and the helper tasks it queues. Participants claim
// steps in chunks (one atomic operation per chunk, not per step), about 16 chunks per
// participant so that uneven steps still spread well. A helper that starts after every step has
// been claimed returns at once without touching `step`.
struct ApplyRun {
  ApplyRun(size_t count, size_t participants, const DispatchQueue::Step& step)
      : count(count), chunk(std::max<size_t>(1, count / (participants * 16))), step(step) {}

  const size_t count;
  const size_t chunk;
  const DispatchQueue::Step step;
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};

  std::mutex mutex;
  std::condition_variable allDone;
  size_t finished = 0;              // guarded by mutex
  std::exception_ptr firstFailure;  // guarded by mutex

  // Takes chunks of steps until none is left. Steps after a failure are skipped but counted.
  void work() {
    size_t completed = 0;
    std::exception_ptr failure;
    for (size_t begin = next.fetch_add(chunk); begin < count; begin = next.fetch_add(chunk)) {
      const size_t end = std::min(count, begin + chunk);
      for (size_t i = begin; i < end; ++i) {
        if (!failed.load(std::memory_order_relaxed)) {
          try {
            step(i);
          } catch (...) {
            failed = true;
            if (!failure) failure = std::current_exception();
          }
        }
        ++completed;
      }
    }
    if (completed == 0) return;
    std::lock_guard<std::mutex> lock(mutex);
    if (failure && !firstFailure) firstFailure = failure;
    finished += completed;
    if (finished == count) allDone.notify_all();
  }
};

}  // namespace

DispatchQueue::DispatchQueue(size_t threadCount)
    : DispatchQueue(
          std::max<size_t>(threadCount == 0 ? std::thread::hardware_concurrency() : threadCount, 2),
          std::string()) {}

DispatchQueue::DispatchQueue(std::string name, bool startSuspended)
    : serial_(std::make_shared<Serial>()) {
  serial_->name = std::move(name);
  serial_->suspended = startSuspended;
}

DispatchQueue::DispatchQueue(size_t threadCount, std::string name)
    : state_(std::make_shared<State>()) {
  state_->name = std::move(name);
  workers_.reserve(threadCount);
  for (size_t i = 0; i < threadCount; ++i) {
    workers_.emplace_back([state = state_] { workerLoop(state); });
  }
}

DispatchQueue::~DispatchQueue() {
  if (serial_) {
    std::unique_lock<std::mutex> lock(serial_->mutex);
    serial_->suspended = false;
    if (serial_->tasks.empty() && !serial_->scheduled) return;
    if (!serial_->scheduled) {
      serial_->scheduled = true;
      global()->async([serial = serial_] { drainSerial(serial); });
    }
    // Destroyed by one of its own tasks: the drain finishes alone.
    if (currentWorkerState == serial_.get()) return;
    serial_->drained.wait(lock, [&] { return !serial_->scheduled; });
    return;
  }
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
  }
  state_->wake.notify_all();
  for (std::thread& worker : workers_) {
    if (worker.get_id() == std::this_thread::get_id()) {
      worker.detach();  // destroyed by one of its own tasks: that worker drains and ends alone
    } else {
      worker.join();
    }
  }
}

std::shared_ptr<DispatchQueue> DispatchQueue::global() {
  // Intentionally leaked: no static destructor ever joins workers that may still be busy.
  static auto* const queue = new std::shared_ptr<DispatchQueue>(std::make_shared<DispatchQueue>());
  return *queue;
}

DispatchQueue& DispatchQueue::blocking() {
  // Intentionally leaked, like the global queue: a call may still block at exit.
  static auto* const queue = new DispatchQueue(1, "blocking calls");
  return *queue;
}

const std::string& DispatchQueue::name() const { return serial_ ? serial_->name : state_->name; }

bool DispatchQueue::isSerial() const { return serial_ || workers_.size() == 1; }

void DispatchQueue::resume() {
  if (!serial_) return;
  bool schedule = false;
  {
    std::lock_guard<std::mutex> lock(serial_->mutex);
    serial_->suspended = false;
    if (!serial_->tasks.empty() && !serial_->scheduled) schedule = serial_->scheduled = true;
  }
  if (schedule) global()->async([serial = serial_] { drainSerial(serial); });
}

void DispatchQueue::drainSerial(const std::shared_ptr<Serial>& serial) {
  const void* outer = currentWorkerState;
  currentWorkerState = serial.get();
  for (;;) {
    Task task;
    {
      std::lock_guard<std::mutex> lock(serial->mutex);
      if (serial->tasks.empty() || serial->suspended) {
        serial->scheduled = false;
        serial->drained.notify_all();
        break;
      }
      task = std::move(serial->tasks.front());
      serial->tasks.pop_front();
    }
    runTask(task, serial->name, true);
  }
  currentWorkerState = outer;
}

void DispatchQueue::runTask(const Task& task, const std::string& name, bool serial) {
  try {
    task();
  } catch (const std::exception& e) {
    if (serial) {
      log::error("DispatchQueue {}: a task threw: {}", name, e.what());
    } else {
      log::error("DispatchQueue: a task threw: {}", e.what());
    }
  } catch (...) {
    if (serial) {
      log::error("DispatchQueue {}: a task threw an unknown exception", name);
    } else {
      log::error("DispatchQueue: a task threw an unknown exception");
    }
  }
}

void DispatchQueue::async(Task task) {
  if (!task) return;
  if (serial_) {
    bool schedule = false;
    {
      std::lock_guard<std::mutex> lock(serial_->mutex);
      serial_->tasks.push_back(std::move(task));
      if (!serial_->suspended && !serial_->scheduled) schedule = serial_->scheduled = true;
    }
    if (schedule) global()->async([serial = serial_] { drainSerial(serial); });
    return;
  }
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->tasks.push_back(std::move(task));
  }
  state_->wake.notify_one();
}

void DispatchQueue::apply(size_t count, const Step& step) {
  if (serial_) return global()->apply(count, step);
  if (count == 0) return;
  const size_t helpers = std::min(count - 1, workers_.size());
  auto run = std::make_shared<ApplyRun>(count, helpers + 1, step);
  for (size_t i = 0; i < helpers; ++i) async([run] { run->work(); });
  run->work();
  std::unique_lock<std::mutex> lock(run->mutex);
  run->allDone.wait(lock, [&] { return run->finished == run->count; });
  if (run->firstFailure) std::rethrow_exception(run->firstFailure);
}

bool DispatchQueue::isCurrent() const {
  return currentWorkerState == (serial_ ? static_cast<const void*>(serial_.get()) : state_.get());
}

void DispatchQueue::workerLoop(const std::shared_ptr<State>& state) {
  currentWorkerState = state.get();
  for (;;) {
    Task task;
    {
      std::unique_lock<std::mutex> lock(state->mutex);
      state->wake.wait(lock, [&] { return state->stopping || !state->tasks.empty(); });
      if (state->tasks.empty()) return;  // stopping, and everything queued has run
      task = std::move(state->tasks.front());
      state->tasks.pop_front();
    }
    runTask(task, state->name, !state->name.empty());
    // `task` (and whatever it captured) is released here, before the next wait.
  }
}

}  // namespace zelto
