#include "Support/FakeRunLoop.h"

#include <algorithm>
#include <string>

namespace zelto {

class FakeRunLoop::FakeTimer final : public Registration {
 public:
  explicit FakeTimer(std::shared_ptr<TimerState> state) : state_(std::move(state)) {}
  ~FakeTimer() override { cancel(); }
  void cancel() override {
    if (state_) state_->cancelled = true;
  }

 private:
  std::shared_ptr<TimerState> state_;
};

std::unique_ptr<Registration> FakeRunLoop::addTimer(double delaySeconds, double repeatSeconds,
                                                    Callback callback) {
  auto state = std::make_shared<TimerState>(TimerState{
      clock_.monotonicSeconds() + std::max(0.0, delaySeconds), repeatSeconds, std::move(callback)});
  timers_.push_back(state);
  return std::make_unique<FakeTimer>(state);
}

void FakeRunLoop::post(Callback callback) {
  std::lock_guard<std::mutex> lock(postedMutex_);
  posted_.push_back(std::move(callback));
}

Result<std::unique_ptr<Registration>> FakeRunLoop::watchReadable(int fd, Callback) {
  return Status::failure("cannot watch descriptor " + std::to_string(fd) +
                         ": the fake run loop watches no descriptors");
}

size_t FakeRunLoop::scheduledTimers() const {
  return std::count_if(timers_.begin(), timers_.end(), [](const auto& t) { return !t->cancelled; });
}

bool FakeRunLoop::runOneDueTimer() {
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

bool FakeRunLoop::runOnePosted() {
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

void FakeRunLoop::runUntilIdle() {
  stopped_ = false;
  for (;;) {
    if (stopped_) return;
    if (runOnePosted()) continue;
    if (!runOneDueTimer()) return;
  }
}

void FakeRunLoop::advance(double seconds) {
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

}  // namespace zelto
