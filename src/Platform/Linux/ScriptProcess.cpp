#include "Platform/Linux/ScriptProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace zelto {

namespace {

// How often `wait` looks for the shell's end where the system has no pidfds.
constexpr std::chrono::milliseconds kPollWithoutPidfd(50);
// How much `wait` reads before it looks at the clock and the shell again: a script that writes
// without pause must not keep it reading past the limit. And how much it reads once the shell
// has ended (a child left in the background may go on writing).
constexpr size_t kReadPerTurn = 64 * 1024;
constexpr size_t kReadAtEnd = 1024 * 1024;

FileDescriptor openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  return FileDescriptor(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
#else
  (void)pid;
  return FileDescriptor();
#endif
}

}  // namespace

Result<std::unique_ptr<ScriptProcess>> ScriptProcess::start(const std::string& script) {
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

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 1);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A process group of its own (so that a time-out can end the script's children too), and none
  // of this process's blocked or ignored signals.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::string shell = "/bin/sh", option = "-c", text = script;
  char* argv[] = {shell.data(), option.data(), text.data(), nullptr};
  pid_t pid = -1;
  int result = ::posix_spawn(&pid, shell.c_str(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (result != 0) {
    return Status::fromErrno(result, "Can't start /bin/sh");
  }
  writeEnd.reset();  // the pipe ends when the script and its children have closed theirs
  // Not yet reaped, so the number is still this child's.
  FileDescriptor pidfd = openPidfd(pid);
  return std::unique_ptr<ScriptProcess>(
      new ScriptProcess(pid, std::move(readEnd), std::move(pidfd)));
}

ScriptProcess::~ScriptProcess() {
  bool reaped;
  {
    std::lock_guard lock(mutex_);
    reaped = reaped_;
    if (!reaped) killGroupLocked();
  }
  if (!reaped) reap();
}

bool ScriptProcess::drain(const std::function<void(std::string_view)>& onOutput, size_t maxBytes) {
  char buffer[4096];
  for (size_t read = 0; read < maxBytes;) {
    Result<size_t> n = output_.read(buffer, sizeof buffer);
    if (n.ok() && *n > 0) {
      onOutput(std::string_view(buffer, *n));
      read += *n;
      continue;
    }
    return n.status().isBusy();  // nothing now; else the end, or a failure
  }
  return true;
}

ScriptProcess::Ending ScriptProcess::wait(std::chrono::milliseconds limit,
                                          const std::function<void(std::string_view)>& onOutput) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  bool timedOut = false;
  bool pipeOpen = true;
  for (;;) {
    pollfd entries[2];
    nfds_t count = 0;
    if (pidfd_.valid()) entries[count++] = {pidfd_.get(), POLLIN, 0};
    const nfds_t pipeIndex = count;
    if (pipeOpen) entries[count++] = {output_.get(), POLLIN, 0};

    int timeout = -1;  // once killed, the end is near
    if (!timedOut) {
      auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
    }
    if (!pidfd_.valid()) {
      timeout = timeout < 0 ? static_cast<int>(kPollWithoutPidfd.count())
                            : std::min(timeout, static_cast<int>(kPollWithoutPidfd.count()));
    }
    int ready = count > 0 ? ::poll(entries, count, timeout) : 0;
    if (ready < 0 && errno != EINTR) ready = 0;
    if (pipeOpen && ready > 0 && entries[pipeIndex].revents != 0)
      pipeOpen = drain(onOutput, kReadPerTurn);

    bool ended = false;
    if (pidfd_.valid()) {
      ended = ready > 0 && entries[0].revents != 0;
    } else {
      siginfo_t info{};
      ended = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
              info.si_pid == pid_;
    }
    if (ended) {
      if (pipeOpen) drain(onOutput, kReadAtEnd);  // what was written before the end
      Ending ending = reap();
      ending.timedOut = timedOut;
      return ending;
    }
    if (!timedOut && std::chrono::steady_clock::now() >= deadline) {
      timedOut = true;
      std::lock_guard lock(mutex_);
      killGroupLocked();
    }
  }
}

ScriptProcess::Ending ScriptProcess::reap() {
  int status = 0;
  pid_t result;
  do {
    result = ::waitpid(pid_, &status, 0);
  } while (result < 0 && errno == EINTR);
  std::lock_guard lock(mutex_);
  reaped_ = true;
  Ending ending;
  ending.killed = killed_;
  if (result == pid_ && WIFEXITED(status)) {
    ending.exited = true;
    ending.code = WEXITSTATUS(status);
  } else if (result == pid_ && WIFSIGNALED(status)) {
    ending.signal = WTERMSIG(status);
  }
  return ending;
}

void ScriptProcess::kill() {
  std::lock_guard lock(mutex_);
  if (reaped_) return;
  killed_ = true;
  killGroupLocked();
}

void ScriptProcess::killGroupLocked() {
  if (!reaped_) ::kill(-pid_, SIGKILL);
}

}  // namespace zelto
