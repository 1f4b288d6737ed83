#include "Platform/Linux/UvRunLoop.h"

#include <cmath>
#include <string>

namespace zelto {

namespace {

uint64_t toMilliseconds(double seconds) {
  if (!(seconds > 0)) return 0;  // also NaN
  double ms = std::ceil(seconds * 1000.0);
  return ms > 1e15 ? static_cast<uint64_t>(1e15) : static_cast<uint64_t>(ms);
}

// One libuv handle (a timer, a poll) registered on the loop. Its state is released only once
// libuv has closed the handle, and a callback may cancel its own registration: the handle is
// then closed when the callback returns.
template <typename Handle>
class UvRegistration final : public Registration {
 public:
  using Stop = int (*)(Handle*);

  UvRegistration(RunLoop::Callback callback, Stop stop)
      : state_(new State{{}, std::move(callback)}), stop_(stop) {
    state_->handle.data = state_;
  }
  ~UvRegistration() override { cancel(); }

  Handle* handle() { return &state_->handle; }

  // For a handle libuv refused to initialise: nothing to close.
  void abandon() {
    delete state_;
    state_ = nullptr;
  }

  void cancel() override {
    if (state_ == nullptr) return;
    stop_(&state_->handle);
    if (state_->firing) {
      state_->cancelled = true;
    } else {
      close(&state_->handle);
    }
    state_ = nullptr;
  }

  static void fire(Handle* handle) {
    auto* state = static_cast<State*>(handle->data);
    state->firing = true;
    RunLoop::Callback callback = state->callback;  // the callback may cancel its registration
    callback();
    state->firing = false;
    if (state->cancelled) close(handle);
  }

 private:
  struct State {
    Handle handle;
    RunLoop::Callback callback;
    bool firing = false;
    bool cancelled = false;
  };

  static void close(Handle* handle) {
    uv_close(reinterpret_cast<uv_handle_t*>(handle),
             [](uv_handle_t* h) { delete static_cast<State*>(h->data); });
  }

  State* state_;
  Stop stop_;
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

std::unique_ptr<Registration> UvRunLoop::addTimer(double delaySeconds, double repeatSeconds,
                                                  Callback callback) {
  using TimerRegistration = UvRegistration<uv_timer_t>;
  auto timer = std::make_unique<TimerRegistration>(std::move(callback), &uv_timer_stop);
  uv_timer_init(&loop_, timer->handle());
  uv_timer_start(
      timer->handle(), [](uv_timer_t* handle) { TimerRegistration::fire(handle); },
      toMilliseconds(delaySeconds), toMilliseconds(repeatSeconds));
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

Result<std::unique_ptr<Registration>> UvRunLoop::watchReadable(int fd, Callback callback) {
  using PollRegistration = UvRegistration<uv_poll_t>;
  auto watch = std::make_unique<PollRegistration>(std::move(callback), &uv_poll_stop);
  auto failure = [fd](int error) {
    return Status::failure("cannot watch descriptor " + std::to_string(fd) + ": " +
                           uv_strerror(error));
  };
  if (int error = uv_poll_init(&loop_, watch->handle(), fd); error != 0) {
    watch->abandon();
    return failure(error);
  }
  // From here on the handle is libuv's: destroying the registration closes it.
  if (int error =
          uv_poll_start(watch->handle(), UV_READABLE | UV_DISCONNECT,
                        [](uv_poll_t* handle, int, int) { PollRegistration::fire(handle); });
      error != 0) {
    return failure(error);
  }
  return std::unique_ptr<Registration>(std::move(watch));
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
