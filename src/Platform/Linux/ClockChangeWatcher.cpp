// On Linux a realtime timerfd armed with TFD_TIMER_CANCEL_ON_SET is cancelled (its read fails
// with ECANCELED) whenever the realtime clock is set discontinuously, which includes the step
// taken when the machine resumes from suspend.
#include "Platform/ClockChangeWatcher.h"

#include <errno.h>
#include <string.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "Platform/Linux/FileDescriptor.h"

namespace zelto {

namespace {

class TimerfdClockWatch final : public Registration {
 public:
  explicit TimerfdClockWatch(std::function<void()> callback) : callback_(std::move(callback)) {}
  ~TimerfdClockWatch() override { cancel(); }

  Status start(RunLoop& loop) {
    fd_.reset(::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC));
    if (!fd_.valid() || !arm()) return Status::failure(std::string("timerfd: ") + strerror(errno));
    auto watch = loop.watchReadable(fd_.get(), [this] { onReadable(); });
    if (!watch.ok()) return watch.status();
    watch_ = std::move(*watch);
    return Status::success();
  }

  void cancel() override {
    watch_.reset();
    fd_.reset();
  }

 private:
  // A timer at the far end of time that never expires; only a clock change wakes it.
  bool arm() {
    itimerspec expiry{};
    expiry.it_value.tv_sec = INT32_MAX;
    return ::timerfd_settime(fd_.get(), TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &expiry,
                             nullptr) == 0;
  }

  void onReadable() {
    uint64_t expirations = 0;
    ssize_t n = ::read(fd_.get(), &expirations, sizeof expirations);
    if (n < 0 && errno == ECANCELED) {
      arm();
      callback_();
    } else if (n < 0 && errno != EAGAIN) {
      arm();
    }
  }

  std::function<void()> callback_;
  FileDescriptor fd_;
  std::unique_ptr<Registration> watch_;  // ended before fd_ closes
};

}  // namespace

Result<std::unique_ptr<Registration>> ClockChangeWatcher::watch(RunLoop& loop,
                                                                std::function<void()> callback) {
  auto watch = std::make_unique<TimerfdClockWatch>(std::move(callback));
  Status started = watch->start(loop);
  if (!started.ok()) return started;
  return std::unique_ptr<Registration>(std::move(watch));
}

}  // namespace zelto
