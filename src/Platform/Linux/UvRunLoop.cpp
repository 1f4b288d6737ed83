#include "Platform/Linux/UvRunLoop.h"

#include <cmath>

namespace zelto {

namespace {

uint64_t toMilliseconds(double seconds) {
  if (!(seconds > 0)) return 0;  // also NaN
  double ms = std::ceil(seconds * 1000.0);
  return ms > 1e15 ? static_cast<uint64_t>(1e15) : static_cast<uint64_t>(ms);
}

// A libuv timer whose memory is released only once libuv has closed it.
class UvTimer final : public Timer {
 public:
  UvTimer(uv_loop_t* loop, RunLoop::Callback callback)
      : state_(new State{{}, std::move(callback), false}) {
    uv_timer_init(loop, &state_->handle);
    state_->handle.data = state_;
  }
  ~UvTimer() override { cancel(); }

  void start(double delaySeconds, double repeatSeconds) {
    uv_timer_start(&state_->handle, &UvTimer::onFire, toMilliseconds(delaySeconds),
                   toMilliseconds(repeatSeconds));
  }

  void cancel() override {
    if (state_ == nullptr) return;
    uv_timer_stop(&state_->handle);
    if (state_->firing) {
      // Cancelled from its own callback: onFire closes it when the callback returns.
      state_->cancelled = true;
    } else {
      uv_close(reinterpret_cast<uv_handle_t*>(&state_->handle),
               [](uv_handle_t* h) { delete static_cast<State*>(h->data); });
    }
    state_ = nullptr;
  }

 private:
  struct State {
    uv_timer_t handle;
    RunLoop::Callback callback;
    bool firing = false;
    bool cancelled = false;
  };

  static void onFire(uv_timer_t* handle) {
    auto* state = static_cast<State*>(handle->data);
    state->firing = true;
    RunLoop::Callback callback = state->callback;  // the callback may cancel its own timer
    callback();
    state->firing = false;
    if (state->cancelled) {
      uv_close(reinterpret_cast<uv_handle_t*>(handle),
               [](uv_handle_t* h) { delete static_cast<State*>(h->data); });
    }
  }

  State* state_;
};

// A libuv poll handle on a descriptor; like UvTimer, its memory goes once libuv has closed it.
class UvReadableWatch final : public Timer {
 public:
  UvReadableWatch(uv_loop_t* loop, int fd, RunLoop::Callback callback)
      : state_(new State{{}, std::move(callback), false, false}) {
    if (uv_poll_init(loop, &state_->handle, fd) != 0) {
      delete state_;
      state_ = nullptr;
      return;
    }
    state_->handle.data = state_;
    uv_poll_start(&state_->handle, UV_READABLE | UV_DISCONNECT, &UvReadableWatch::onEvent);
  }
  ~UvReadableWatch() override { cancel(); }

  void cancel() override {
    if (state_ == nullptr) return;
    uv_poll_stop(&state_->handle);
    if (state_->firing) {
      state_->cancelled = true;
    } else {
      uv_close(reinterpret_cast<uv_handle_t*>(&state_->handle),
               [](uv_handle_t* h) { delete static_cast<State*>(h->data); });
    }
    state_ = nullptr;
  }

 private:
  struct State {
    uv_poll_t handle;
    RunLoop::Callback callback;
    bool firing;
    bool cancelled;
  };

  static void onEvent(uv_poll_t* handle, int /*status*/, int /*events*/) {
    auto* state = static_cast<State*>(handle->data);
    state->firing = true;
    RunLoop::Callback callback = state->callback;
    callback();
    state->firing = false;
    if (state->cancelled) {
      uv_close(reinterpret_cast<uv_handle_t*>(handle),
               [](uv_handle_t* h) { delete static_cast<State*>(h->data); });
    }
  }

  State* state_;
};

}  // namespace

UvRunLoop::UvRunLoop() : loopThread_(std::this_thread::get_id()) {
  uv_loop_init(&loop_);
  uv_async_init(&loop_, &wakeup_, &UvRunLoop::onAsync);
  wakeup_.data = this;
}

UvRunLoop::~UvRunLoop() {
  for (auto& signal : signals_) {
    uv_close(reinterpret_cast<uv_handle_t*>(&signal.handle), nullptr);
  }
  uv_close(reinterpret_cast<uv_handle_t*>(&wakeup_), nullptr);
  // Let libuv finish closing everything (including timers whose handles were dropped).
  uv_walk(
      &loop_,
      [](uv_handle_t* handle, void*) {
        if (!uv_is_closing(handle)) uv_close(handle, nullptr);
      },
      nullptr);
  uv_run(&loop_, UV_RUN_DEFAULT);
  uv_loop_close(&loop_);
}

void UvRunLoop::run() {
  loopThread_ = std::this_thread::get_id();
  // A stop requested before the loop started counts: run returns at once.
  while (!stopRequested_) {
    drainPosted();
    if (stopRequested_) break;
    uv_run(&loop_, UV_RUN_ONCE);
  }
  stopRequested_ = false;
}

void UvRunLoop::stop() {
  stopRequested_ = true;
  uv_async_send(&wakeup_);
}

void UvRunLoop::post(Callback callback) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(std::move(callback));
  }
  uv_async_send(&wakeup_);
}

bool UvRunLoop::isLoopThread() const { return loopThread_.load() == std::this_thread::get_id(); }

std::unique_ptr<Timer> UvRunLoop::addTimer(double delaySeconds, double repeatSeconds,
                                           Callback callback) {
  auto timer = std::make_unique<UvTimer>(&loop_, std::move(callback));
  timer->start(delaySeconds, repeatSeconds);
  return timer;
}

void UvRunLoop::onSignal(int signal, Callback callback) {
  signals_.push_back(SignalHandle{{}, std::move(callback)});
  SignalHandle& entry = signals_.back();
  uv_signal_init(&loop_, &entry.handle);
  entry.handle.data = &entry;
  uv_signal_start(
      &entry.handle,
      [](uv_signal_t* handle, int) { static_cast<SignalHandle*>(handle->data)->callback(); },
      signal);
}

std::unique_ptr<Timer> UvRunLoop::watchReadable(int fd, Callback callback) {
  return std::make_unique<UvReadableWatch>(&loop_, fd, std::move(callback));
}

void UvRunLoop::onAsync(uv_async_t* handle) {
  static_cast<UvRunLoop*>(handle->data)->drainPosted();
}

void UvRunLoop::drainPosted() {
  std::deque<Callback> batch;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    batch.swap(posted_);
  }
  for (auto& callback : batch) callback();
}

}  // namespace zelto
