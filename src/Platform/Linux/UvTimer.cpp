#include "Platform/Linux/UvTimer.h"

#include <cmath>

namespace zelto {

struct UvTimer::State {
  uv_timer_t handle;
  std::function<void()> callback;
  bool closed = false;
};

UvTimer::UvTimer(UvRunLoop& loop, std::function<void()> callback)
    : state_(new State{{}, std::move(callback)}) {
  uv_timer_init(loop.loop(), &state_->handle);
  state_->handle.data = state_;
}

UvTimer::~UvTimer() {
  uv_timer_stop(&state_->handle);
  state_->closed = true;  // the callback may be running: it is released with the handle
  uv_close(reinterpret_cast<uv_handle_t*>(&state_->handle),
           [](uv_handle_t* handle) { delete static_cast<State*>(handle->data); });
}

void UvTimer::start(double seconds) {
  const double ms = std::ceil(std::fmax(seconds, 0.0) * 1000.0);
  uv_timer_start(
      &state_->handle,
      [](uv_timer_t* handle) {
        auto* state = static_cast<State*>(handle->data);
        if (!state->closed) state->callback();
      },
      ms > 1e12 ? static_cast<uint64_t>(1e12) : static_cast<uint64_t>(ms), 0);
}

void UvTimer::stop() { uv_timer_stop(&state_->handle); }

}  // namespace zelto
