#include "Platform/Linux/FileDescriptor.h"

#include <fcntl.h>

#include <cerrno>

namespace zelto {

namespace {

Status noDescriptor() { return Status::closed("no open descriptor"); }

}  // namespace

Result<size_t> FileDescriptor::read(void* buffer, size_t size) const {
  if (fd_ < 0) return noDescriptor();
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, size);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) return Status::fromErrno("");
  }
}

Result<size_t> FileDescriptor::write(const void* data, size_t size) const {
  if (fd_ < 0) return noDescriptor();
  for (;;) {
    const ssize_t n = ::write(fd_, data, size);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) return Status::fromErrno("");
  }
}

Status FileDescriptor::writeAll(std::string_view bytes) const {
  while (!bytes.empty()) {
    Result<size_t> written = write(bytes.data(), bytes.size());
    if (!written.ok()) return written.status();
    if (*written == 0) return Status::fromErrno(EIO, "");
    bytes.remove_prefix(*written);
  }
  return Status::success();
}

Status FileDescriptor::setNonBlocking(bool nonBlocking) const {
  if (fd_ < 0) return noDescriptor();
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags < 0) return Status::fromErrno("");
  const int wanted = nonBlocking ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
  if (wanted != flags && ::fcntl(fd_, F_SETFL, wanted) != 0) return Status::fromErrno("");
  return Status::success();
}

Result<struct stat> FileDescriptor::stat() const {
  if (fd_ < 0) return noDescriptor();
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return Status::fromErrno("");
  return st;
}

}  // namespace zelto
