// InstanceLock: keeps a second Zelto application of the same user from running beside the
// first.
//
// An advisory lock (flock, taken without waiting) on "zelto.lock" in the user's runtime folder:
// $XDG_RUNTIME_DIR, or where the session gives none, the user's cache folder
// (${XDG_CACHE_HOME:-$HOME/.cache}/Zelto, made when missing): both belong to the user alone and
// are writable by no one else, so no other user can take or hold the lock. The lock lasts as long
// as the object (or until the process ends, whichever way it ends).
//
// The instance that takes the lock records its process number beside it ("zelto.lock.pid"). The
// lock counts only when its holder is this program: when the lock is held but the recorded
// process isn't running this program's executable (another program holds the lock file, to
// keep Zelto from starting), the outcome says so and the application runs anyway, recording
// itself, so that a later start finds it.
//
// The outcome: acquired; held by another instance (the caller says so and exits with 0); or held
// by another program (the caller runs anyway). Taking the lock can also fail (the folder or the
// file can't be made or locked): a failed Result, with the reason.
//
// Ownership: move-only; the holder keeps it for the life of the application. Threads: any,
// one owner at a time.
#pragma once

#include <optional>
#include <string>

#include "Platform/FileLock.h"
#include "Platform/Status.h"

namespace zelto {

class Directories;
class FileSystem;

class InstanceLock {
 public:
  static constexpr const char* kFileName = "zelto.lock";

  static constexpr const char* kRecordSuffix = ".pid";

  enum class Outcome { kAcquired, kHeldByAnother, kHeldByStranger };

  // The lock on the file at `path` (see lockPath).
  static Result<InstanceLock> acquireAt(const std::string& path);
  // Where the lock file is in the user's runtime folder: its "zelto.lock", the fallback folder
  // made when missing. Fails when neither folder is known or the fallback can't be made.
  static Result<std::string> lockPath(const Directories& directories, FileSystem& fs);

  Outcome outcome() const { return outcome_; }
  const std::string& path() const { return path_; }

 private:
  InstanceLock(Outcome outcome, std::string path) : outcome_(outcome), path_(std::move(path)) {}

  Outcome outcome_;
  std::string path_;
  std::optional<FileLock> lock_;  // held when kAcquired
};

}  // namespace zelto
