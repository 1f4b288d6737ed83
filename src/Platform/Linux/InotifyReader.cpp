#include "Platform/Linux/InotifyReader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace zelto {

Status InotifyReader::drain(int fd, const EventHandler& onEvent) {
  // Room for many events per read; far more than one event of the longest name needs.
  alignas(inotify_event) char buffer[16 * 1024];
  for (;;) {
    ssize_t length = ::read(fd, buffer, sizeof buffer);
    if (length < 0 && errno == EINTR) continue;
    if (length < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Status::success();
    if (length < 0) return Status::fromErrno("reading events");
    if (length == 0) return Status::failure("reading events: end of file");
    const size_t size = static_cast<size_t>(length);
    for (size_t offset = 0; offset < size;) {
      if (size - offset < sizeof(inotify_event)) {
        return Status::failure("reading events: a read ended inside an event");
      }
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      if (size - offset - sizeof(inotify_event) < event->len) {
        return Status::failure("reading events: a read ended inside an event");
      }
      offset += sizeof(inotify_event) + event->len;
      onEvent(*event);
    }
  }
}

}  // namespace zelto
