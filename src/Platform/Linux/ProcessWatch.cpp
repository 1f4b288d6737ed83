#include "Platform/Linux/ProcessWatch.h"

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace zelto {

ProcessWatch& ProcessWatch::operator=(ProcessWatch&& other) noexcept {
  if (this != &other) {
    reset();
    pidfd_ = std::move(other.pidfd_);
    watch_ = std::move(other.watch_);
  }
  return *this;
}

Result<ProcessWatch> ProcessWatch::open(pid_t pid) {
#ifdef SYS_pidfd_open
  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) {
    return Status::fromErrno("no pidfd for process " + std::to_string(pid));
  }
  return ProcessWatch(FileDescriptor(pidfd));
#else
  return Status::failure("no pidfd for process " + std::to_string(pid) +
                         ": not offered by this system");
#endif
}

bool ProcessWatch::hasEnded() const {
  if (!pidfd_.valid()) return false;
  // A pidfd becomes readable once its process has ended.
  pollfd entry{pidfd_.get(), POLLIN, 0};
  return ::poll(&entry, 1, 0) > 0;
}

Status ProcessWatch::sendSignal(int number) const {
  if (!pidfd_.valid()) return Status::failure("no pidfd to signal");
#ifdef SYS_pidfd_send_signal
  if (::syscall(SYS_pidfd_send_signal, pidfd_.get(), number, nullptr, 0) != 0) {
    return Status::fromErrno("sending signal " + std::to_string(number));
  }
  return Status::success();
#else
  return Status::failure("sending a signal through a pidfd: not offered by this system");
#endif
}

Status ProcessWatch::watchEnd(RunLoop& loop, std::function<void()> onEnd) {
  watch_.reset();
  if (!pidfd_.valid()) return Status::failure("no pidfd to watch");
  auto watch = loop.watchReadable(pidfd_.get(), std::move(onEnd));
  if (!watch.ok()) return watch.status();
  watch_ = std::move(*watch);
  return Status::success();
}

void ProcessWatch::reset() {
  watch_.reset();
  pidfd_.reset();
}

}  // namespace zelto
