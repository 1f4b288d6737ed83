// UvTimer: a one-shot timer on a UvRunLoop that can be restarted cheaply, as a deadline that
// moves with activity (an idle timeout) needs.
//
// Owns its libuv handle; destroying the timer stops it (its callback never runs afterwards) and
// lets libuv release the handle. The loop's thread only; destroy before the loop.
#pragma once

#include <uv.h>

#include <functional>

#include "Platform/Linux/UvRunLoop.h"

namespace zelto {

class UvTimer {
 public:
  UvTimer(UvRunLoop& loop, std::function<void()> callback);
  ~UvTimer();
  UvTimer(const UvTimer&) = delete;
  UvTimer& operator=(const UvTimer&) = delete;

  // Fires once after `seconds`; a start while running moves the deadline.
  void start(double seconds);
  void stop();

 private:
  struct State;
  State* state_;  // released by libuv's close callback
};

}  // namespace zelto
