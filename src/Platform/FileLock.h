// FileLock: an exclusive advisory lock (flock) on a lock file, held for as long as the object
// lives.
//
// The lock file is created (mode 0600) when absent and never removed: removing it would let two
// writers lock two different files of one name. A lock waits at most the time given; the wait
// is a poll, so a holder that never lets go costs a bounded delay and a clear error. Locks are
// between open files: two FileLocks on one path exclude each other even within one process.
//
// Move-only; any thread, one owner at a time.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Status.h"

namespace zelto {

class FileLock {
 public:
  // The lock on the file at `path`, or a failure naming the path: the file can't be opened or
  // created, or someone else held the lock for all of `wait`.
  static Result<FileLock> acquire(const std::string& path, std::chrono::milliseconds wait);
  // The lock without waiting: a busy failure (isBusy()) when someone else holds it; another
  // failure naming the path when the file can't be opened, created or locked.
  static Result<FileLock> tryAcquire(const std::string& path);

  FileLock(FileLock&&) noexcept = default;
  FileLock& operator=(FileLock&&) noexcept = default;

 private:
  explicit FileLock(FileDescriptor fd) : fd_(std::move(fd)) {}
  FileDescriptor fd_;  // closing it releases the lock
};

}  // namespace zelto
