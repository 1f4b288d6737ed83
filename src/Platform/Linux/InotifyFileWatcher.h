// InotifyFileWatcher: the FileWatcher on inotify, delivering on a RunLoop.
//
// Each watch has one inotify descriptor, registered with the loop, holding up to two watches:
// - the file at the path, for IN_CLOSE_WRITE (a write is reported once, when the writer closes
//   the file, however many write calls it made; a writer that keeps the file open is reported
//   when it closes it), IN_DELETE_SELF, IN_MOVE_SELF and IN_ATTRIB;
// - the directory holding the path, for the file's name appearing (IN_CREATE, IN_MOVED_TO),
//   going (IN_DELETE, IN_MOVED_FROM) or changing attributes (IN_ATTRIB), and for the
//   directory's own attributes, so an atomic replacement (write a temporary file, rename it over
//   the path), a file that appears after a gap, and a change of permissions of the file or of
//   its directory (a file that couldn't be read made readable again) are all reported. When
//   that directory does not exist, or exists but refuses a watch (no permission), the nearest
//   ancestor that takes one is watched for the next component to appear or change permissions
//   instead, and the watch moves down as the directories come into being or become readable.
// All events read in one wake-up make one batch: the watch first re-arms on whatever now stands
// at the path, then calls back once when the batch touched the file (or the file at the path is
// a different one, or has appeared or gone). Re-arming comes before the callback, so a change
// made while the callback runs is reported too. Events of a file no longer at the path are
// ignored. A queue overflow counts as a change.
//
// A relative path is made absolute when the watch starts. A path without a file name (empty, or
// ending in "/", "." or "..") is refused with a warning: the handle returned watches nothing.
// Errors never end in a crash or a busy loop: what cannot be watched is logged and left alone
// until the next event re-arms the watch; a descriptor the loop refuses to watch, or one whose
// events can no longer be read, is logged and the watch reports nothing more.
//
// Ownership: each handle owns its descriptor and closes it when cancelled or destroyed; the
// handle may be destroyed from its own callback. Handles must go before the loop. Threads: the
// loop's thread only.
#pragma once

#include "Platform/FileWatcher.h"
#include "Platform/RunLoop.h"

namespace zelto {

class InotifyFileWatcher final : public FileWatcher {
 public:
  explicit InotifyFileWatcher(RunLoop& loop) : loop_(loop) {}

  std::unique_ptr<Registration> watch(const std::string& path,
                                      std::function<void()> callback) override;

 private:
  RunLoop& loop_;
};

}  // namespace zelto
