// InotifyExecutableWatch: the ExecutableWatch of this machine, with inotify.
//
// Each file gets a watch for IN_OPEN (the opens told) and for IN_ATTRIB, IN_DELETE_SELF and
// IN_MOVE_SELF: the file at the path was changed, replaced or removed, so the watch moves to
// whatever stands at the path now. A queue overflow counts as an open. When the events can't be
// read any more, the watch stops for good (logged, as "LINE: reason", LINE given at
// construction, saying how starts are found instead): nothing would tell opens again.
//
// Events are read when the loop finds some queued, or at once by `readNow`, for an owner that
// wants to know of an exec under way before it answers; `readNow` can leave out one open of a
// file, the one made by the exec of a program the owner has just started itself.
//
// Ownership: owns its inotify descriptor (opened at the first `watch` with a file in it) and its
// registration on the loop. Threads: the loop's thread only.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "Platform/ExecutableWatch.h"
#include "Platform/Linux/FileDescriptor.h"
#include "Platform/RunLoop.h"

namespace zelto {

class InotifyExecutableWatch final : public ExecutableWatch {
 public:
  static constexpr const char* kRegularLookLine =
      "Program starts are noticed only by the regular look at every process";

  explicit InotifyExecutableWatch(RunLoop& loop, std::string unwatchedLine = kRegularLookLine)
      : loop_(loop), unwatchedLine_(std::move(unwatchedLine)) {}
  ~InotifyExecutableWatch() override { stopListening(); }
  InotifyExecutableWatch(const InotifyExecutableWatch&) = delete;
  InotifyExecutableWatch& operator=(const InotifyExecutableWatch&) = delete;

  Status watch(const std::vector<std::string>& executables, Callback onOpen) override;
  void clear() override;

  // Reads the events queued now; one open of `ownExec` (when not empty) is not told.
  void readNow(const std::string& ownExec = "");

 private:
  Status startListening();
  void stopListening();
  void add(const std::string& path);
  void readEvents(int ownExec = -1);

  RunLoop& loop_;
  const std::string unwatchedLine_;
  FileDescriptor inotify_;
  std::unique_ptr<Registration> readable_;  // destroyed before inotify_
  std::map<std::string, int> watched_;      // path -> watch descriptor
  Callback onOpen_;
  std::string failure_;  // why the watch can't work, once it can't
};

}  // namespace zelto
