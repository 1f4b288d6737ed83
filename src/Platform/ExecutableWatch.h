// ExecutableWatch: tells when any of a set of executable files is opened. Every exec of a
// program opens its file, so a start of one of those programs is noticed as it happens (the
// open comes just before the process runs the new program, so a look at it may need repeating).
// Other opens (a copy, a checksum) are told too.
//
// `watch` replaces the set of files watched and the callback; the callback runs on the loop the
// watch was made for, once per batch of opens read. A file that can't be watched (missing, no
// permission) is left out with a debug line; a file replaced or removed and put back is watched
// again where it stands. A failure means the watch can't work at all: the caller must find
// starts some other way (the reason is logged once).
//
// Ownership: the creator owns the watch; the loop must outlive it. Threads: the loop's thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Platform/Status.h"

namespace zelto {

class ExecutableWatch {
 public:
  using Callback = std::function<void()>;

  virtual ~ExecutableWatch() = default;

  virtual Status watch(const std::vector<std::string>& executables, Callback onOpen) = 0;
  // Watches nothing any more; the callback is dropped.
  virtual void clear() = 0;
};

}  // namespace zelto
