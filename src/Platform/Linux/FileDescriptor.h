// FileDescriptor: owns one open file descriptor, closes it when destroyed, and carries the
// operations done on it (read, write, nonblocking mode, stat), each saying how it failed.
//
// Every descriptor the Linux layer opens (files, pipes, inotify, pidfds, timerfds) is held in one
// of these; nothing else closes descriptors. The operations retry a call the system interrupted
// (EINTR); a failure's message is the system's own, for the caller to put its context before
// (withContext), and its kind comes from the error number: a nonblocking descriptor with nothing
// to read or no room to write now is busy (isBusy()). An operation on no descriptor fails as
// closed.
//
// Move-only. Any thread, one owner at a time.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <string_view>
#include <utility>

#include "Platform/Status.h"

namespace zelto {

class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

  // Up to `size` bytes into `buffer`: how many were read, 0 at the end.
  Result<size_t> read(void* buffer, size_t size) const;
  // Up to `size` bytes of `data`: how many were written.
  Result<size_t> write(const void* data, size_t size) const;
  // All of `bytes`, in as many writes as it takes; a write that makes no progress is an I/O
  // error rather than a spin.
  Status writeAll(std::string_view bytes) const;
  // Sets or clears O_NONBLOCK.
  Status setNonBlocking(bool nonBlocking = true) const;
  // What fstat tells of the open file.
  Result<struct stat> stat() const;

  // Closes the descriptor now (if any) and holds `fd` instead.
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Gives up ownership: the caller (or the handle it hands the descriptor to) closes it.
  [[nodiscard]] int release() { return std::exchange(fd_, -1); }
  // Closes now and answers whether the close succeeded: a late write error shows up here.
  bool close() {
    int fd = std::exchange(fd_, -1);
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_ = -1;
};

}  // namespace zelto
