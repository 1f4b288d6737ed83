// InotifyReader: drains the events waiting on a non-blocking inotify descriptor.
//
// `drain` reads until the queue is empty, retrying a read that a signal interrupted, and hands
// each event to `onEvent` in the order the kernel queued them, a queue overflow included (an
// event with wd -1 and IN_Q_OVERFLOW). Any other read error, an end of file, or a read that ends
// inside an event is a failure with its reason: such a descriptor would keep waking its loop
// without giving anything sensible, so its owner stops listening to it. The events read before
// a failure have been handed over by then.
//
// Ownership: the caller keeps the descriptor. Threads: any, one caller per descriptor at a time.
#pragma once

#include <sys/inotify.h>

#include <functional>

#include "Platform/Status.h"

namespace zelto {

class InotifyReader {
 public:
  using EventHandler = std::function<void(const inotify_event& event)>;

  static Status drain(int fd, const EventHandler& onEvent);
};

}  // namespace zelto
