#include "Platform/Linux/ProcessSpawner.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Platform/Linux/FileDescriptor.h"

extern char** environ;

namespace zelto {

namespace {

// Who a child becomes, read before fork: in the child nothing may allocate.
struct Credentials {
  bool change = false;
  bool changeUser = false;
  uid_t uid = 0;
  gid_t gid = 0;
};

Credentials credentialsOf(const ProcessSpawner::Options& options) {
  Credentials credentials;
  credentials.change = options.gid.has_value();
  credentials.changeUser = options.uid.has_value();
  credentials.uid = options.uid.value_or(0);
  credentials.gid = options.gid.value_or(0);
  return credentials;
}

// In a child between fork and exec: takes on `credentials`, for good. 0, or the errno of the
// step that failed. Async-signal-safe.
int becomeUser(const Credentials& credentials) {
  if (!credentials.change) return 0;
  const gid_t g = credentials.gid;
  if (::setgroups(0, nullptr) != 0 || ::setresgid(g, g, g) != 0) return errno;
  if (credentials.changeUser) {
    const uid_t u = credentials.uid;
    if (::setresuid(u, u, u) != 0) return errno;
  }
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return errno;
  // Checked rather than assumed: every id is the one asked for.
  uid_t ru, eu, su;
  gid_t rg, eg, sg;
  if (::getresuid(&ru, &eu, &su) != 0 || ::getresgid(&rg, &eg, &sg) != 0) return errno;
  if (rg != g || eg != g || sg != g) return EPERM;
  if (credentials.changeUser) {
    const uid_t u = credentials.uid;
    if (ru != u || eu != u || su != u) return EPERM;
    if (u != 0 && ::setresuid(0, 0, 0) == 0) return EPERM;  // root could be taken back
  }
  return 0;
}

// In a child between fork and exec: standard input on /dev/null, output and error on `outputFd`
// (/dev/null when below 0), every signal at its default and none blocked, `credentials` taken on,
// and, when `parent` is given, killed when it ends; then the program. Returns only when a step
// failed, with its errno. Async-signal-safe.
int execPrepared(std::vector<char*>& argv, int outputFd, const Credentials& credentials,
                 pid_t parent) {
  int null = ::open("/dev/null", O_RDWR);
  const int out = outputFd >= 0 ? outputFd : null;
  if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0) return errno;
  if (null > 2) ::close(null);
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  for (int number = 1; number < NSIG; ++number) ::sigaction(number, &byDefault, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (int failed = becomeUser(credentials); failed != 0) return failed;
  // After the change of user, which clears it; a parent already gone ends the child here.
  if (parent != 0 && (::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0 || ::getppid() != parent)) {
    return ESRCH;
  }
  ::execve(argv[0], argv.data(), environ);
  return errno;
}

}  // namespace

Result<ProcessSpawner::Spawned> ProcessSpawner::spawn(const std::vector<std::string>& arguments,
                                                      const Options& options) {
  if (arguments.empty() || arguments[0].empty()) return Status::failure("no program given");
  if (options.uid && !options.gid) return Status::failure("a user to run as needs its group");
  // Copies: between fork and exec nothing may allocate.
  std::vector<std::string> copies = arguments;
  std::vector<char*> argv;
  for (auto& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  if (options.detach) return spawnDetached(argv, options);
  return options.gid || options.endsWithParent ? spawnForked(argv, options)
                                               : spawnChild(argv, options);
}

Result<ProcessSpawner::Spawned> ProcessSpawner::spawnChild(std::vector<char*>& argv,
                                                           const Options& options) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (options.outputFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, options.outputFd, 1);
    posix_spawn_file_actions_adddup2(&actions, options.outputFd, 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Naming every signal is also the cheapest: the child goes through all of them either way, and
  // asks about each one left out before setting it.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (options.newSession) flags |= POSIX_SPAWN_SETSID;
  if (options.newProcessGroup) {
    flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  posix_spawnattr_setflags(&attributes, flags);
  pid_t pid = -1;
  int result = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (result != 0) return Status::failure(std::strerror(result));
  Spawned spawned;
  spawned.pid = pid;
  // Not reaped yet, so the number is still this child's.
  if (auto process = ProcessWatch::open(pid); process.ok()) {
    spawned.process = std::move(*process);
  } else {
    spawned.pidfd = process.status();
  }
  return spawned;
}

Result<ProcessSpawner::Spawned> ProcessSpawner::spawnDetached(std::vector<char*>& argv,
                                                              const Options& options) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return Status::failure(std::strerror(errno));
  FileDescriptor readEnd(ends[0]), writeEnd(ends[1]);
  const int errorPipe = writeEnd.get();
  const int outputFd = options.outputFd;
  const Credentials credentials = credentialsOf(options);

  pid_t middle = ::fork();
  if (middle < 0) return Status::failure(std::strerror(errno));
  if (middle == 0) {
    auto fail = [errorPipe](int number) {
      ssize_t ignored = ::write(errorPipe, &number, sizeof number);
      (void)ignored;
      ::_exit(127);
    };
    if (options.newSession && ::setsid() < 0) fail(errno);
    pid_t program = ::fork();
    if (program < 0) fail(errno);
    if (program > 0) ::_exit(0);
    if (options.newProcessGroup && ::setpgid(0, 0) < 0) fail(errno);
    fail(execPrepared(argv, outputFd, credentials, 0));
  }
  writeEnd.reset();
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  // Nothing comes through the pipe once the program runs: its exec closed the last write end.
  int reason = 0;
  ssize_t length;
  do {
    length = ::read(readEnd.get(), &reason, sizeof reason);
  } while (length < 0 && errno == EINTR);
  if (length == static_cast<ssize_t>(sizeof reason)) return Status::failure(std::strerror(reason));
  return Spawned{};
}

Result<ProcessSpawner::Spawned> ProcessSpawner::spawnForked(std::vector<char*>& argv,
                                                            const Options& options) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return Status::failure(std::strerror(errno));
  FileDescriptor readEnd(ends[0]), writeEnd(ends[1]);
  const int errorPipe = writeEnd.get();
  const int outputFd = options.outputFd;
  const bool newSession = options.newSession;
  const bool newProcessGroup = options.newProcessGroup;
  const Credentials credentials = credentialsOf(options);
  const bool endsWithParent = options.endsWithParent;
  const pid_t parent = ::getpid();

  const pid_t pid = ::fork();
  if (pid < 0) return Status::failure(std::strerror(errno));
  if (pid == 0) {
    auto fail = [errorPipe](int number) {
      ssize_t ignored = ::write(errorPipe, &number, sizeof number);
      (void)ignored;
      ::_exit(127);
    };
    if (newSession && ::setsid() < 0) fail(errno);
    // A session's leader leads its group already.
    if (newProcessGroup && !newSession && ::setpgid(0, 0) < 0) fail(errno);
    fail(execPrepared(argv, outputFd, credentials, endsWithParent ? parent : 0));
  }
  writeEnd.reset();
  Spawned spawned;
  spawned.pid = pid;
  // Before anything reaps it, so the number is still this child's.
  if (auto process = ProcessWatch::open(pid); process.ok()) {
    spawned.process = std::move(*process);
  } else {
    spawned.pidfd = process.status();
  }
  // The pipe's last write end closes at exec, or carries the reason the child gave up.
  int reason = 0;
  ssize_t length;
  do {
    length = ::read(readEnd.get(), &reason, sizeof reason);
  } while (length < 0 && errno == EINTR);
  if (length == static_cast<ssize_t>(sizeof reason)) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return Status::failure(std::strerror(reason));
  }
  return spawned;
}

}  // namespace zelto
