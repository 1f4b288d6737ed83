// FileWatcher: tells when the file standing at a path changes.
//
// `watch` reports each delete, write or extend of the file at the path, once per event, and
// then watches afresh whatever file stands at the path, so the watch follows a file that is
// replaced (removed and written anew, or renamed into place). A file that appears at the path
// after a gap is reported too. Callbacks run on the watcher's run-loop thread.
//
// Ownership: a watch lasts until its handle is destroyed; it owns its descriptors and closes
// them then. Threads: the watcher's run-loop thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Platform/RunLoop.h"

namespace zelto {

class FileWatcher {
 public:
  virtual ~FileWatcher() = default;
  virtual std::unique_ptr<Registration> watch(const std::string& path,
                                              std::function<void()> callback) = 0;
};

}  // namespace zelto
