// ScriptProcess: one run of a shell script (`/bin/sh -c TEXT`) on a run loop, in a process group
// of its own, its standard input on /dev/null and its standard output and error on one pipe to
// us.
//
// The loop watches the pipe and the shell's pidfd (ProcessWatch): output is handed over as it
// comes, at most a bounded amount per turn of the loop, so a script that writes without pause
// never holds the loop. A timer ends the run at the time limit: the whole process group is
// killed (SIGKILL), so that a script's children end with it. When the shell has ended, the output
// still in the pipe is read (up to a bound: a child left in the background may go on writing),
// the shell is reaped, and `onEnd` is told how the run ended; it may destroy the object. Without
// pidfds, the end is looked for every 50 ms instead. A process the script put in the background
// in a group of its own is not ours to end.
//
// Ownership: owns the pipe, the pidfd, its timers and the child until reaped. Neither copied nor
// moved. `kill` ends the run at once (the group is killed, the shell reaped, `onEnd` told);
// destroying a running object does the same without telling. The loop must outlive the object.
// Threads: the loop's thread only.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Linux/ProcessWatch.h"
#include "Platform/RunLoop.h"
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
  using OutputHandler = std::function<void(std::string_view)>;
  using EndHandler = std::function<void(const Ending&)>;

  // Starts `/bin/sh -c script` with this process's environment. Fails with the reason when the
  // pipe or the process can't be made.
  static Result<std::unique_ptr<ScriptProcess>> start(RunLoop& loop, const std::string& script,
                                                      double limitSeconds, OutputHandler onOutput,
                                                      EndHandler onEnd);

  ~ScriptProcess();
  ScriptProcess(const ScriptProcess&) = delete;
  ScriptProcess& operator=(const ScriptProcess&) = delete;

  pid_t pid() const { return pid_; }
  void kill();

 private:
  ScriptProcess(RunLoop& loop, pid_t pid, FileDescriptor output, OutputHandler onOutput,
                EndHandler onEnd);

  Status watch(ProcessWatch process, double limitSeconds);
  // Reads what the pipe holds now (at most `maxBytes`) without waiting; closes it at its end.
  void drain(size_t maxBytes);
  void onShellEnded();
  // Reaps the shell (waiting for it) and stops every watch.
  Ending reap();
  void killGroup();

  RunLoop& loop_;
  const pid_t pid_;
  OutputHandler onOutput_;
  EndHandler onEnd_;
  bool reaped_ = false;
  bool timedOut_ = false;
  FileDescriptor output_;  // read end, non-blocking; closed at its end
  ProcessWatch process_;   // may be empty on systems without pidfds
  // Destroyed before the descriptors they watch.
  std::unique_ptr<Registration> outputWatch_;
  std::unique_ptr<Registration> limitTimer_;
  std::unique_ptr<Registration> endPoll_;  // without a pidfd watch only
};

}  // namespace zelto
