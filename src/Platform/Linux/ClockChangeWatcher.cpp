// On Linux a realtime timerfd armed with TFD_TIMER_CANCEL_ON_SET is cancelled (its read fails
// with ECANCELED) whenever the realtime clock is set discontinuously, which includes the step
// taken when the machine resumes from suspend.
#include "Platform/ClockChangeWatcher.h"

#include <errno.h>
#include <string.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <string>

#include "Platform/Linux/FileDescriptor.h"

namespace zelto {

namespace {

// The kernel keeps timer deadlines as signed 64-bit nanoseconds: a later one can't be held.
constexpr double kLatestExpiry = static_cast<double>(INT64_MAX / 1'000'000'000);
constexpr double kExpiryAhead = 100.0 * 365.25 * 24 * 60 * 60;

// The moment to arm the timer for: a century after `now`, within what the kernel can hold.
time_t expiryAfter(Date now) {
  double expiry = now.secondsSince1970() + kExpiryAhead;
  if (!(expiry < kLatestExpiry)) return static_cast<time_t>(kLatestExpiry);  // NaN too
  return expiry > 0 ? static_cast<time_t>(expiry) : 0;
}

class TimerfdClockWatch final : public Registration {
 public:
  TimerfdClockWatch(std::function<void()> callback, const Clock& clock)
      : callback_(std::move(callback)), clock_(clock) {}
  ~TimerfdClockWatch() override { cancel(); }

  Status start(RunLoop& loop) {
    fd_.reset(::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC));
    if (!fd_.valid() || !arm()) return Status::fromErrno("timerfd");
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
  // A timer far in the future; a clock change cancels it long before it expires. Should it
  // expire all the same (the clock set a century on), `onReadable` sets it again.
  bool arm() {
    itimerspec expiry{};
    expiry.it_value.tv_sec = expiryAfter(clock_.now());
    return ::timerfd_settime(fd_.get(), TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &expiry,
                             nullptr) == 0;
  }

  void onReadable() {
    uint64_t expirations = 0;
    ssize_t n = ::read(fd_.get(), &expirations, sizeof expirations);
    if (n < 0 && errno == ECANCELED) {
      arm();
      callback_();
    } else if (n >= 0 || errno != EAGAIN) {
      // Expired, or failed: an expired timer never fires again, so it is set anew.
      arm();
    }
  }

  std::function<void()> callback_;
  const Clock& clock_;
  FileDescriptor fd_;
  std::unique_ptr<Registration> watch_;  // ended before fd_ closes
};

}  // namespace

Result<std::unique_ptr<Registration>> ClockChangeWatcher::watch(RunLoop& loop,
                                                                std::function<void()> callback) {
  static const SystemClock systemClock;
  return watch(loop, std::move(callback), systemClock);
}

Result<std::unique_ptr<Registration>> ClockChangeWatcher::watch(RunLoop& loop,
                                                                std::function<void()> callback,
                                                                const Clock& clock) {
  auto watch = std::make_unique<TimerfdClockWatch>(std::move(callback), clock);
  Status started = watch->start(loop);
  if (!started.ok()) return started;
  return std::unique_ptr<Registration>(std::move(watch));
}

}  // namespace zelto
