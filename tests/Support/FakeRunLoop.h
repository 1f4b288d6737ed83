// FakeRunLoop: a run loop for tests, on simulated time.
//
// Work posted runs when the test turns the loop (`runUntilIdle`); timers fire when the test
// moves time forward with `advance`, which moves the FakeClock too, step by step from one due
// timer to the next, so callbacks see the time at which they were due. Descriptors can't be
// watched: `watchReadable` fails. Everything happens on the test's thread, except `post`, which
// other threads may call too (the work still runs on the test's thread, when it turns the loop).
#pragma once

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/RunLoop.h"
#include "Support/FakeClock.h"

namespace zelto {

class FakeRunLoop final : public RunLoop {
 public:
  explicit FakeRunLoop(FakeClock& clock) : clock_(clock) {}

  // Turns the loop until nothing is left to do now; returns at `stop` too.
  void run() override { runUntilIdle(); }
  void stop() override { stopped_ = true; }
  void post(Callback callback) override {
    std::lock_guard<std::mutex> lock(postedMutex_);
    posted_.push_back(std::move(callback));
  }
  bool isLoopThread() const override { return true; }
  std::unique_ptr<Registration> addTimer(double delaySeconds, double repeatSeconds,
                                         Callback callback) override {
    auto state = std::make_shared<TimerState>(
        TimerState{clock_.monotonicSeconds() + std::max(0.0, delaySeconds), repeatSeconds,
                   std::move(callback)});
    timers_.push_back(state);
    return std::make_unique<FakeTimer>(state);
  }
  // Signals never come on simulated time.
  void onSignal(int, Callback) override {}
  Result<std::unique_ptr<Registration>> watchReadable(int fd, Callback) override {
    return Status::failure("cannot watch descriptor " + std::to_string(fd) +
                           ": the fake run loop watches no descriptors");
  }

  // Runs posted work and timers that are due, until there is none.
  void runUntilIdle() {
    stopped_ = false;
    while (!stopped_ && (runOnePosted() || runOneDueTimer())) {
    }
  }
  // Moves time forward by `seconds`, firing every timer that falls due on the way.
  void advance(double seconds) {
    const double target = clock_.monotonicSeconds() + seconds;
    runUntilIdle();
    for (;;) {
      double nextDue = target;
      for (const auto& timer : timers_) {
        if (!timer->cancelled && timer->due < nextDue) nextDue = timer->due;
      }
      double step = nextDue - clock_.monotonicSeconds();
      if (step > 0) clock_.advance(step);
      runUntilIdle();
      if (nextDue >= target) return;
    }
  }
  size_t scheduledTimers() const {
    return std::count_if(timers_.begin(), timers_.end(),
                         [](const auto& t) { return !t->cancelled; });
  }

 private:
  struct TimerState {
    double due;
    double repeat;
    Callback callback;
    bool cancelled = false;
  };
  class FakeTimer final : public Registration {
   public:
    explicit FakeTimer(std::shared_ptr<TimerState> state) : state_(std::move(state)) {}
    ~FakeTimer() override { cancel(); }
    void cancel() override {
      if (state_) state_->cancelled = true;
    }

   private:
    std::shared_ptr<TimerState> state_;
  };

  bool runOneDueTimer() {
    std::erase_if(timers_, [](const auto& t) { return t->cancelled; });
    std::shared_ptr<TimerState> next;
    for (const auto& timer : timers_) {
      if (timer->due <= clock_.monotonicSeconds() + 1e-9 && (!next || timer->due < next->due)) {
        next = timer;
      }
    }
    if (!next) return false;
    if (next->repeat > 0) {
      next->due += next->repeat;
    } else {
      next->cancelled = true;
    }
    Callback callback = next->callback;
    callback();
    return true;
  }
  bool runOnePosted() {
    Callback callback;
    {
      std::lock_guard<std::mutex> lock(postedMutex_);
      if (posted_.empty()) return false;
      callback = std::move(posted_.front());
      posted_.pop_front();
    }
    callback();
    return true;
  }

  FakeClock& clock_;
  std::mutex postedMutex_;
  std::deque<Callback> posted_;  // guarded by postedMutex_
  std::vector<std::shared_ptr<TimerState>> timers_;
  bool stopped_ = false;
};

}  // namespace zelto
