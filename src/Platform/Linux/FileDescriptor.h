// FileDescriptor: owns one open file descriptor and closes it when destroyed.
//
// Every descriptor the Linux layer opens (files, inotify, pidfds, timerfds) is held in one of
// these; nothing else closes descriptors. Move-only. Any thread, one owner at a time.
#pragma once

#include <unistd.h>

#include <utility>

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
