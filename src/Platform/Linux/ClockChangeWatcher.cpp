// On Linux a realtime timerfd armed with TFD_TIMER_CANCEL_ON_SET is cancelled (its read fails
// with ECANCELED) whenever the realtime clock is set discontinuously, which includes the step
// taken when the machine resumes from suspend.
#include "Platform/ClockChangeWatcher.h"

#include <errno.h>
#include <string.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>

#include "Platform/Log.h"

namespace zelto {

namespace {

class TimerfdClockWatch final : public Registration {
 public:
  TimerfdClockWatch(RunLoop& loop, std::function<void()> callback)
      : callback_(std::move(callback)) {
    fd_ = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0 || !arm()) {
      log::warning("Can't watch for clock changes: {}", strerror(errno));
      return;
    }
    auto watch = loop.watchReadable(fd_, [this] { onReadable(); });
    if (!watch.ok()) {
      log::warning("Can't watch for clock changes: {}", watch.status().message());
      return;
    }
    watch_ = std::move(*watch);
  }
  ~TimerfdClockWatch() override { cancel(); }

  void cancel() override {
    watch_.reset();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  // A timer at the far end of time that never expires; only a clock change wakes it.
  bool arm() {
    itimerspec expiry{};
    expiry.it_value.tv_sec = INT32_MAX;
    return ::timerfd_settime(fd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &expiry, nullptr) ==
           0;
  }

  void onReadable() {
    uint64_t expirations = 0;
    ssize_t n = ::read(fd_, &expirations, sizeof expirations);
    if (n < 0 && errno == ECANCELED) {
      arm();
      callback_();
    } else if (n < 0 && errno != EAGAIN) {
      arm();
    }
  }

  std::function<void()> callback_;
  int fd_ = -1;
  std::unique_ptr<Registration> watch_;
};

}  // namespace

std::unique_ptr<Registration> ClockChangeWatcher::watch(RunLoop& loop,
                                                        std::function<void()> callback) {
  return std::make_unique<TimerfdClockWatch>(loop, std::move(callback));
}

}  // namespace zelto
