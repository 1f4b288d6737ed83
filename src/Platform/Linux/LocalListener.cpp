#include "Platform/Linux/LocalListener.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstring>

namespace zelto {

namespace {

Result<sockaddr_un> addressOf(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    return Status::invalidInput("Not a usable socket path: \"" + path + "\"");
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

}  // namespace

Result<LocalListener> LocalListener::listen(const std::string& path, uint32_t mode) {
  auto address = addressOf(path);
  if (!address) return address.status();
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) {
      return Status::busy("Can't listen at " + path + ": something other than a socket is there");
    }
    if (::unlink(path.c_str()) != 0) return Status::fromErrno("Can't replace the socket " + path);
  }
  FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return Status::fromErrno("Can't make a socket");
  // Made with no permission at all, then opened up: nobody connects before the mode is set.
  const mode_t before = ::umask(0777);
  const int bound = ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address);
  const int error = errno;
  ::umask(before);
  if (bound != 0) return Status::fromErrno(error, "Can't listen at " + path);
  LocalListener listener(std::move(fd), path);
  if (::chmod(path.c_str(), mode) != 0) return Status::fromErrno("Can't open up " + path);
  if (::listen(listener.fd_.get(), 64) != 0) return Status::fromErrno("Can't listen at " + path);
  return listener;
}

LocalListener::~LocalListener() {
  if (fd_.valid() && !path_.empty()) ::unlink(path_.c_str());
}

Result<FileDescriptor> LocalListener::accept() const {
  while (true) {
    const int fd = ::accept4(fd_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) return FileDescriptor(fd);
    if (errno == EINTR || errno == ECONNABORTED) continue;
    return Status::fromErrno("Can't accept a connection at " + path_);
  }
}

Result<LocalListener::Peer> LocalListener::peerOf(const FileDescriptor& connection) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (::getsockopt(connection.get(), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) {
    return Status::fromErrno("Can't tell who is connected");
  }
  return Peer{credentials.pid, credentials.uid, credentials.gid};
}

}  // namespace zelto
