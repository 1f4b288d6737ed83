// ScriptProcess: one run of a shell script (`/bin/sh -c TEXT`) in a process group of its own,
// its standard input on /dev/null and its standard output and error on one pipe to us.
//
// `wait` blocks its caller until the shell has ended, handing over the output as it comes; when
// the time limit passes first, the whole process group is killed (SIGKILL), so that a script's
// children end with it. `kill` does the same from any other thread (to end a run early). The
// shell is reaped by `wait`, never left a zombie; a process the script put in the background
// in a group of its own is not ours to end.
//
// Ownership: owns the pipe, the pidfd and the child until reaped. Neither copied nor moved.
// Threads: `wait` on one thread, at most once; `kill` and `pid` from any thread. Destroying an
// object whose shell was never waited for kills the group and reaps the shell.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Status.h"

namespace zelto {

class ScriptProcess {
 public:
  struct Ending {
    bool exited = false;  // by exit: `code` holds the status
    int code = 0;
    int signal = 0;         // by a signal, when not `exited`
    bool timedOut = false;  // the limit passed and the group was killed
    bool killed = false;    // ended early by `kill`
  };

  // Starts `/bin/sh -c script` with this process's environment. Fails with the reason when the
  // pipe or the process can't be made.
  static Result<std::unique_ptr<ScriptProcess>> start(const std::string& script);

  ~ScriptProcess();
  ScriptProcess(const ScriptProcess&) = delete;
  ScriptProcess& operator=(const ScriptProcess&) = delete;

  pid_t pid() const { return pid_; }

  // Blocks until the shell has ended, calling `onOutput` with every piece of output read; output
  // still in the pipe when the shell ends is read first. After `limit`, kills the group and
  // waits for the shell's end.
  Ending wait(std::chrono::milliseconds limit,
              const std::function<void(std::string_view)>& onOutput);

  // SIGKILL to the script's process group, unless its shell has been reaped already.
  void kill();

 private:
  ScriptProcess(pid_t pid, FileDescriptor output, FileDescriptor pidfd)
      : pid_(pid), output_(std::move(output)), pidfd_(std::move(pidfd)) {}

  // Reads what the pipe holds now (at most `maxBytes`) without waiting; false at its end.
  bool drain(const std::function<void(std::string_view)>& onOutput, size_t maxBytes);
  Ending reap();
  void killGroupLocked();

  const pid_t pid_;
  FileDescriptor output_;  // read end, non-blocking
  FileDescriptor pidfd_;   // may be empty on systems without pidfds: then `wait` polls
  std::mutex mutex_;       // guards reaped_ and killed_, so no signal goes to a reused number
  bool reaped_ = false;
  bool killed_ = false;
};

}  // namespace zelto
