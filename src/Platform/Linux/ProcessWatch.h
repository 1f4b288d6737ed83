// ProcessWatch: a pidfd of one process, and the watch on a run loop that tells when it ends.
//
// A pidfd refers to one process for good: once that process has ended it reads as ended, even
// when its number has been given to another process since. `hasEnded` asks without waiting;
// `watchEnd` calls back on the loop once the process has ended (a zombie counts as ended).
// `sendSignal` signals that process through its pidfd, so a signal never reaches another
// process that has taken over the number.
// An empty ProcessWatch (default, or moved from) refers to no process: it never reads as ended
// and can't be watched.
//
// Ownership: owns the pidfd and the watch; destroying it ends the watch first, then closes the
// pidfd. Move-only. Threads: the loop's thread once watched; any thread before.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>

#include "Platform/Linux/FileDescriptor.h"
#include "Platform/RunLoop.h"
#include "Platform/Status.h"

namespace zelto {

class ProcessWatch {
 public:
  ProcessWatch() = default;
  ProcessWatch(ProcessWatch&&) = default;
  ProcessWatch& operator=(ProcessWatch&& other) noexcept;
  ~ProcessWatch() { reset(); }

  // A pidfd of process `pid`. Fails when the process is gone, or the system can't give one.
  static Result<ProcessWatch> open(pid_t pid);

  bool isOpen() const { return pidfd_.valid(); }
  bool isWatched() const { return watch_ != nullptr; }
  bool hasEnded() const;

  // Sends signal `number` to the process. A process that has ended (zombie or gone) is a
  // failure saying so; `hasEnded` tells that case apart.
  Status sendSignal(int number) const;

  // Calls `onEnd` on `loop`'s thread once the process has ended (and again on each later turn
  // of the loop until the watch is dropped, so `onEnd` usually drops it). Replaces an earlier
  // watch. Fails with the reason when there is no pidfd or the loop can't watch it.
  Status watchEnd(RunLoop& loop, std::function<void()> onEnd);

  // Ends the watch, then closes the pidfd.
  void reset();

 private:
  explicit ProcessWatch(FileDescriptor pidfd) : pidfd_(std::move(pidfd)) {}

  FileDescriptor pidfd_;
  std::unique_ptr<Registration> watch_;  // destroyed before pidfd_
};

}  // namespace zelto
