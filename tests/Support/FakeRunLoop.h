// FakeRunLoop: a run loop for tests, on simulated time.
//
// Work posted runs when the test turns the loop (`runUntilIdle`); timers fire when the test
// moves time forward with `advance`, which moves the FakeClock too, step by step from one due
// timer to the next, so callbacks see the time at which they were due. Descriptors can't be
// watched: `watchReadable` fails. Everything happens on the test's thread, except `post`, which
// other threads may call too (the work still runs on the test's thread, when it turns the loop).
#pragma once

#include <deque>
#include <memory>
#include <mutex>
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
  void post(Callback callback) override;
  bool isLoopThread() const override { return true; }
  std::unique_ptr<Registration> addTimer(double delaySeconds, double repeatSeconds,
                                         Callback callback) override;
  // Signals never come on simulated time.
  void onSignal(int, Callback) override {}
  Result<std::unique_ptr<Registration>> watchReadable(int fd, Callback callback) override;

  // Runs posted work and timers that are due, until there is none.
  void runUntilIdle();
  // Moves time forward by `seconds`, firing every timer that falls due on the way.
  void advance(double seconds);
  size_t scheduledTimers() const;

 private:
  struct TimerState {
    double due;
    double repeat;
    Callback callback;
    bool cancelled = false;
  };
  class FakeTimer;

  bool runOneDueTimer();
  bool runOnePosted();

  FakeClock& clock_;
  std::mutex postedMutex_;
  std::deque<Callback> posted_;  // guarded by postedMutex_
  std::vector<std::shared_ptr<TimerState>> timers_;
  bool stopped_ = false;
};

}  // namespace zelto
