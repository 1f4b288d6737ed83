// SerialQueue: a named work queue with one worker thread of its own, running its tasks one at a
// time in the order they were given (first in, first out).
//
// A queue may start suspended: tasks given meanwhile wait until `resume`. `isCurrent` tells a
// task's code that it already runs on this queue, so that it can run nested work at once instead
// of queueing it behind itself. A task that throws is caught on the worker and logged at error
// level; the queue goes on with the next one.
//
// Lifetime: destroying the queue resumes it if it is suspended, lets the worker run every task
// already queued (and those the tasks queue meanwhile), and joins it. A queue destroyed by one
// of its own tasks detaches its worker instead, which then drains and ends alone.
//
// Ownership: whoever makes a queue owns it. Thread safety: every operation may be called from
// any thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace zelto {

class SerialQueue {
 public:
  using Task = std::function<void()>;

  explicit SerialQueue(std::string name, bool startSuspended = false);
  ~SerialQueue();
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  const std::string& name() const { return name_; }

  // Lets a suspended queue run its tasks; nothing when it runs already.
  void resume();
  // Fire-and-forget: `task` runs on the worker after every task given before it. An empty task
  // is ignored.
  void async(Task task);
  // True when the calling thread is this queue's worker.
  bool isCurrent() const;

 private:
  struct State;
  static void workerLoop(const std::shared_ptr<State>& state);

  std::string name_;
  std::shared_ptr<State> state_;
  std::thread worker_;
};

}  // namespace zelto
