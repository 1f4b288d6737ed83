#include "Platform/FileLock.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace zelto {

namespace {

Result<FileDescriptor> openLockFile(const std::string& path) {
  // O_NOFOLLOW: a link planted at the lock's name is refused rather than followed. Read-only,
  // so that closing it is no write for a watcher of the folder to report.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.valid()) {
    return Status::fromErrno("Can't open the lock file " + path);
  }
  return fd;
}

}  // namespace

Result<FileLock> FileLock::tryAcquire(const std::string& path) {
  auto fd = openLockFile(path);
  if (!fd.ok()) return fd.status();
  while (::flock(fd->get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return Status::busy(path + " is locked by another holder");
    return Status::fromErrno("Can't lock " + path);
  }
  return FileLock(std::move(*fd));
}

Result<FileLock> FileLock::acquire(const std::string& path, std::chrono::milliseconds wait) {
  auto opened = openLockFile(path);
  if (!opened.ok()) return opened.status();
  FileDescriptor fd = std::move(*opened);
  // A steady deadline: a change of the wall clock neither shortens nor lengthens the wait.
  const auto deadline = std::chrono::steady_clock::now() + wait;
  auto pause = std::chrono::milliseconds(1);
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      return Status::fromErrno("Can't lock " + path);
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return Status::busy(fmt::format(
          "Another program has kept {} locked for longer than {:g} s; try again when it is done",
          path, wait.count() / 1000.0));
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
  return FileLock(std::move(fd));
}

}  // namespace zelto
