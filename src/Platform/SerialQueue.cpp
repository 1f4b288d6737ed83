#include "Platform/SerialQueue.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

#include "Platform/Log.h"

namespace zelto {

// What the worker touches. The worker holds its own reference, so a worker detached by a queue
// destroyed from one of its tasks still finds its state alive.
struct SerialQueue::State {
  std::string name;
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Task> tasks;
  bool suspended = false;
  bool stopping = false;
};

namespace {

// The state of the queue whose worker is the current thread; null on other threads.
thread_local const void* currentQueueState = nullptr;

}  // namespace

SerialQueue::SerialQueue(std::string name, bool startSuspended)
    : name_(std::move(name)), state_(std::make_shared<State>()) {
  state_->name = name_;
  state_->suspended = startSuspended;
  worker_ = std::thread([state = state_] { workerLoop(state); });
}

SerialQueue::~SerialQueue() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
    state_->suspended = false;
  }
  state_->wake.notify_all();
  if (worker_.get_id() == std::this_thread::get_id()) {
    worker_.detach();
  } else {
    worker_.join();
  }
}

void SerialQueue::resume() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->suspended = false;
  }
  state_->wake.notify_all();
}

void SerialQueue::async(Task task) {
  if (!task) return;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->tasks.push_back(std::move(task));
  }
  state_->wake.notify_all();
}

bool SerialQueue::isCurrent() const { return currentQueueState == state_.get(); }

void SerialQueue::workerLoop(const std::shared_ptr<State>& state) {
  currentQueueState = state.get();
  for (;;) {
    Task task;
    {
      std::unique_lock<std::mutex> lock(state->mutex);
      state->wake.wait(
          lock, [&] { return !state->suspended && (state->stopping || !state->tasks.empty()); });
      if (state->tasks.empty()) return;  // stopping, and everything queued has run
      task = std::move(state->tasks.front());
      state->tasks.pop_front();
    }
    try {
      task();
    } catch (const std::exception& e) {
      log::error("SerialQueue {}: a task threw: {}", state->name, e.what());
    } catch (...) {
      log::error("SerialQueue {}: a task threw an unknown exception", state->name);
    }
  }
}

}  // namespace zelto
