// ProcessSpawner: starts a program, the one way this process starts any other.
//
// The program is run directly (no shell, no PATH) with this process's environment, every signal
// at its default and none blocked (an ignored SIGPIPE, say, would otherwise carry over), its
// standard input on /dev/null and its standard output and error on /dev/null or on a descriptor
// the caller gives (the write end of a pipe, say). Options put it in a process group or a
// session of its own, run it as another user, or detach it: a detached program is started through a
// short-lived middle process that this one reaps at once, so the program is nobody's child here and
// never needs reaping; a failed exec is then told through a close-on-exec pipe.
//
// Run as another user (`uid` and `gid`, which only root may ask for), the program has that user
// and group and no supplementary groups, and can't gain privileges again (no set-user-ID
// program, no file capabilities: PR_SET_NO_NEW_PRIVS); all of it is done before exec, and any
// of it failing fails the start, so the program never runs with the privileges of this one.
//
// A program that is not detached is this process's child: the caller reaps it. Its pidfd comes
// pinned in a ProcessWatch, opened before anyone could reap it, so it always names that child.
//
// Ownership: the caller owns what `spawn` hands back. Threads: any thread; the middle process
// of a detached start makes only async-signal-safe calls.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "Platform/Linux/ProcessWatch.h"
#include "Platform/Status.h"

namespace zelto {

class ProcessSpawner {
 public:
  struct Options {
    bool newProcessGroup = false;  // its group's leader: a signal to the group reaches its children
    bool newSession = false;
    bool detach = false;
    int outputFd = -1;  // standard output and error; /dev/null when below 0
    // The user and group to run as; a user needs its group (else the start fails).
    std::optional<uid_t> uid = std::nullopt;
    std::optional<gid_t> gid = std::nullopt;
    // Killed (SIGKILL) when this process ends, however it ends: a helper that must not outlive
    // its owner. Not for a detached program.
    bool endsWithParent = false;
  };
  struct Spawned {
    pid_t pid = -1;        // -1 for a detached program
    ProcessWatch process;  // empty for a detached program, or when the system gives no pidfd
    Status pidfd;          // why `process` is empty, for a child
  };

  // Starts `arguments[0]` with `arguments`. The failure is the system's reason alone, for the
  // caller to say what could not be started.
  static Result<Spawned> spawn(const std::vector<std::string>& arguments, const Options& options);

 private:
  static Result<Spawned> spawnChild(std::vector<char*>& argv, const Options& options);
  static Result<Spawned> spawnDetached(std::vector<char*>& argv, const Options& options);
  // A child made by fork and exec, for what posix_spawn can't do (changing the user).
  static Result<Spawned> spawnForked(std::vector<char*>& argv, const Options& options);
};

}  // namespace zelto
