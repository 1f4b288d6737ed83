#include "Platform/Linux/ScriptProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Platform/Linux/ProcessSpawner.h"

namespace zelto {

namespace {

// How often the shell's end is looked for where the system has no pidfds.
constexpr double kPollWithoutPidfdSeconds = 0.05;
// How much is read at one turn of the loop: a script that writes without pause must leave the
// loop to everything else (the time limit included). And how much is read once the shell has
// ended (a child left in the background may go on writing).
constexpr size_t kReadPerTurn = 64 * 1024;
constexpr size_t kReadAtEnd = 1024 * 1024;

}  // namespace

Result<std::unique_ptr<ScriptProcess>> ScriptProcess::start(RunLoop& loop,
                                                            const std::string& script,
                                                            double limitSeconds,
                                                            OutputHandler onOutput,
                                                            EndHandler onEnd) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    return Status::fromErrno("Can't make a pipe for a script");
  }
  FileDescriptor readEnd(ends[0]);
  FileDescriptor writeEnd(ends[1]);
  // Only this end: the script's output stays a blocking pipe.
  if (Status nonBlocking = readEnd.setNonBlocking(); !nonBlocking.ok()) {
    return nonBlocking.withContext("Can't make a pipe for a script");
  }
  auto spawned = ProcessSpawner::spawn({"/bin/sh", "-c", script},
                                       {.newProcessGroup = true, .outputFd = writeEnd.get()});
  if (!spawned.ok()) return spawned.status().withContext("Can't start /bin/sh");
  writeEnd.reset();  // the pipe ends when the script and its children have closed theirs
  std::unique_ptr<ScriptProcess> process(new ScriptProcess(loop, spawned->pid, std::move(readEnd),
                                                           std::move(onOutput), std::move(onEnd)));
  Status watched = process->watch(std::move(spawned->process), limitSeconds);
  if (!watched.ok()) return watched;  // the destructor kills and reaps it
  return process;
}

ScriptProcess::ScriptProcess(RunLoop& loop, pid_t pid, FileDescriptor output,
                             OutputHandler onOutput, EndHandler onEnd)
    : loop_(loop),
      pid_(pid),
      onOutput_(std::move(onOutput)),
      onEnd_(std::move(onEnd)),
      output_(std::move(output)) {}

Status ScriptProcess::watch(ProcessWatch process, double limitSeconds) {
  auto outputWatch = loop_.watchReadable(output_.get(), [this] { drain(kReadPerTurn); });
  if (!outputWatch.ok()) return outputWatch.status().withContext("Can't read a script's output");
  outputWatch_ = std::move(*outputWatch);
  process_ = std::move(process);
  if (!process_.watchEnd(loop_, [this] { onShellEnded(); }).ok()) {
    endPoll_ = loop_.addTimer(kPollWithoutPidfdSeconds, kPollWithoutPidfdSeconds, [this] {
      siginfo_t info{};
      if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
          info.si_pid == pid_) {
        onShellEnded();
      }
    });
  }
  limitTimer_ = loop_.addTimer(limitSeconds, 0, [this] {
    limitTimer_.reset();
    timedOut_ = true;
    killGroup();
  });
  return Status::success();
}

ScriptProcess::~ScriptProcess() {
  if (reaped_) return;
  killGroup();
  reap();
}

void ScriptProcess::drain(size_t maxBytes) {
  char buffer[4096];
  for (size_t read = 0; output_.valid() && read < maxBytes;) {
    Result<size_t> n = output_.read(buffer, sizeof buffer);
    if (n.ok() && *n > 0) {
      onOutput_(std::string_view(buffer, *n));
      read += *n;
      continue;
    }
    if (!n.ok() && n.status().isBusy()) return;  // nothing now
    outputWatch_.reset();                        // the end, or a failure: nothing more comes
    output_.reset();
  }
}

void ScriptProcess::onShellEnded() {
  drain(kReadAtEnd);  // what was written before the end
  Ending ending = reap();
  EndHandler onEnd = std::move(onEnd_);  // it may destroy this object
  if (onEnd) onEnd(ending);
}

ScriptProcess::Ending ScriptProcess::reap() {
  outputWatch_.reset();
  limitTimer_.reset();
  endPoll_.reset();
  process_.reset();
  output_.reset();
  int status = 0;
  pid_t result;
  do {
    result = ::waitpid(pid_, &status, 0);
  } while (result < 0 && errno == EINTR);
  reaped_ = true;
  Ending ending;
  ending.timedOut = timedOut_;
  if (result == pid_ && WIFEXITED(status)) {
    ending.exited = true;
    ending.code = WEXITSTATUS(status);
  } else if (result == pid_ && WIFSIGNALED(status)) {
    ending.signal = WTERMSIG(status);
  }
  return ending;
}

void ScriptProcess::kill() {
  if (reaped_) return;
  killGroup();
  Ending ending = reap();
  ending.killed = true;
  EndHandler onEnd = std::move(onEnd_);
  if (onEnd) onEnd(ending);
}

void ScriptProcess::killGroup() {
  // Not reaped yet, so the group's number is still the shell's.
  if (!reaped_) ::kill(-pid_, SIGKILL);
}

}  // namespace zelto
