// NUIFileMonitor: a watch on a file (the preferences file, for the agent's watchdog and the main
// application): a call back whenever the file at a path is written, deleted or replaced, or
// appears after a gap. The watch follows the file at the path, so a file replaced atomically
// stays watched.
//
// Class operations only, no state of its own. Each program passes the file watcher of its main
// loop, so every callback arrives on the main loop's thread, one at a time: in the agent the
// checks the callbacks start are serialised with the timer's and the running-application
// monitor's.
//
// Ownership: the returned handle owns the watch (and its descriptors); destroying it ends the
// watch. Threads: call on the watcher's loop thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Platform/FileWatcher.h"
#include "Platform/RunLoop.h"

namespace zelto {

class NUIFileMonitor {
 public:
  NUIFileMonitor() = delete;

  static std::unique_ptr<Registration> watch(FileWatcher& watcher, const std::string& path,
                                             std::function<void()> callback);
};

}  // namespace zelto
