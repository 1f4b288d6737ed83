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
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Task> tasks;
  bool stopping = false;
};

namespace {

// The state of the queue whose worker is the current thread; null on other threads.
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

DispatchQueue::DispatchQueue(size_t threadCount) : state_(std::make_shared<State>()) {
  if (threadCount == 0) threadCount = std::thread::hardware_concurrency();
  threadCount = std::max<size_t>(threadCount, 2);
  workers_.reserve(threadCount);
  for (size_t i = 0; i < threadCount; ++i) {
    workers_.emplace_back([state = state_] { workerLoop(state); });
  }
}

DispatchQueue::~DispatchQueue() {
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

void DispatchQueue::async(Task task) {
  if (!task) return;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->tasks.push_back(std::move(task));
  }
  state_->wake.notify_one();
}

void DispatchQueue::apply(size_t count, const Step& step) {
  if (count == 0) return;
  const size_t helpers = std::min(count - 1, workers_.size());
  auto run = std::make_shared<ApplyRun>(count, helpers + 1, step);
  for (size_t i = 0; i < helpers; ++i) async([run] { run->work(); });
  run->work();
  std::unique_lock<std::mutex> lock(run->mutex);
  run->allDone.wait(lock, [&] { return run->finished == run->count; });
  if (run->firstFailure) std::rethrow_exception(run->firstFailure);
}

bool DispatchQueue::isCurrentWorker() const { return currentWorkerState == state_.get(); }

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
    try {
      task();
    } catch (const std::exception& e) {
      log::error("DispatchQueue: a task threw: {}", e.what());
    } catch (...) {
      log::error("DispatchQueue: a task threw an unknown exception");
    }
    // `task` (and whatever it captured) is released here, before the next wait.
  }
}

}  // namespace zelto
