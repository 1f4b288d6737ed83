// LocalListener: a listening Unix-domain stream socket at a path, for a local service, and the
// credentials of whoever connects (the kernel's word, SO_PEERCRED: a client can't lie about
// them).
//
// A socket left at the path by an earlier run is replaced; anything else standing there (a file,
// a link, a folder) is refused, so the service never removes what isn't its own. The socket is
// removed when the listener goes.
//
// Move-only; the thread that owns it.
#pragma once

#include <sys/types.h>

#include <string>

#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Status.h"

namespace zelto {

class LocalListener {
 public:
  struct Peer {
    pid_t pid = 0;
    uid_t uid = 0;
    gid_t gid = 0;
  };

  // Listens at `path` (nonblocking), the socket file given `mode` (e.g. 0666: who may connect is
  // decided per request, by the peer's credentials).
  static Result<LocalListener> listen(const std::string& path, uint32_t mode);

  LocalListener(LocalListener&& other) noexcept = default;
  LocalListener& operator=(LocalListener&& other) noexcept = default;
  ~LocalListener();

  int fd() const { return fd_.get(); }
  // The next waiting connection (nonblocking, close-on-exec), or a busy failure when none waits.
  Result<FileDescriptor> accept() const;
  static Result<Peer> peerOf(const FileDescriptor& connection);

 private:
  LocalListener(FileDescriptor fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}

  FileDescriptor fd_;
  std::string path_;
};

}  // namespace zelto
