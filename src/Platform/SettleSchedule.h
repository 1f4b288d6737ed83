// SettleSchedule: the looks that follow the start of a watched program. An exec opens its file
// just before the process runs the new program, so a look at once may still find the old one:
// the owner looks again a few times, briefly spaced at first, further apart later.
//
// `start` (re)starts the looks from the first, shortest delay: a second start noticed while the
// looks go on is looked for as promptly as the first. A first look already pending is kept, so
// that starts noticed without pause can't put the looks off. Each look calls `look`; when it
// answers true (what was looked for is found) the looks end early. After the last delay nothing is
// left armed, so a program at rest has no timer from here.
//
// Ownership: the owner keeps the loop alive longer than the schedule; the schedule owns its
// timer and the callback. Threads: the loop's thread only.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <memory>

#include "Platform/RunLoop.h"

namespace zelto {

class SettleSchedule {
 public:
  // The delays from one look to the next, seconds; their sum is the longest an exec may take.
  static constexpr std::array<double, 6> kDelaysSeconds = {0.01, 0.03, 0.1, 0.3, 1.0, 3.2};

  // `look` answers whether the looks may end now.
  SettleSchedule(RunLoop& loop, std::function<bool()> look) : loop_(loop), look_(std::move(look)) {}
  SettleSchedule(const SettleSchedule&) = delete;
  SettleSchedule& operator=(const SettleSchedule&) = delete;

  void start() {
    if (timer_ && step_ == 0) return;
    ++generation_;
    step_ = 0;
    arm();
  }
  void stop() {
    ++generation_;
    timer_.reset();
  }
  bool isActive() const { return timer_ != nullptr; }

 private:
  void arm() {
    timer_ = loop_.addTimer(kDelaysSeconds[step_], 0, [this] { fire(); });
  }
  void fire() {
    // The look may restart or stop the schedule: then it says what comes next.
    const unsigned generation = generation_;
    timer_.reset();
    const bool done = look_();
    if (generation != generation_) return;
    if (!done && ++step_ < kDelaysSeconds.size()) arm();
  }

  RunLoop& loop_;
  std::function<bool()> look_;
  std::unique_ptr<Registration> timer_;
  size_t step_ = 0;
  unsigned generation_ = 0;
};

}  // namespace zelto
