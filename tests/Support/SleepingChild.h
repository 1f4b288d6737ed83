// SleepingChild: a copy of sleep(1), made under a name of the test's own, run as the test's
// child for a blocker to end; killed and reaped when the test is done with it.
//
// The constructor returns once the child runs the copy (until its exec it is still the test's
// program). Threads: the test's.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "Support/ChildProcess.h"

namespace zelto::testing {

class SleepingChild {
 public:
  // Copies sleep to `path` (canonical, absolute), made executable. The path is appended to the
  // copy (past the end of the program, where nothing reads it), so that its content is its own:
  // a blocker recognises copies of a blocked program, and must not take another test's copy, or
  // sleep itself, for this one.
  static void copyProgram(const std::string& path) {
    std::filesystem::copy_file("/bin/sleep", path,
                               std::filesystem::copy_options::overwrite_existing);
    std::ofstream(path, std::ios::app) << '\n' << path << '\n';
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  }

  // `blockTerm`: SIGTERM stays pending, as in a program that doesn't quit when asked to.
  explicit SleepingChild(const std::string& path, bool blockTerm = false) {
    std::string program = path, seconds = "1000";
    char* argv[] = {program.data(), seconds.data(), nullptr};
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pid_ = ::fork();
    if (pid_ == 0) {
      if (blockTerm) ::sigprocmask(SIG_BLOCK, &term, nullptr);
      ::execv(program.c_str(), argv);
      ::_exit(127);
    }
    eventually([&] {
      std::error_code error;
      return std::filesystem::read_symlink("/proc/" + std::to_string(pid_) + "/exe", error) == path;
    });
  }
  ~SleepingChild() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  SleepingChild(const SleepingChild&) = delete;
  SleepingChild& operator=(const SleepingChild&) = delete;

  pid_t pid() const { return pid_; }

  // True once the child has ended (it is reaped then).
  bool ended() {
    int status = 0;
    if (!status_ && ::waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
    return status_.has_value();
  }
  // The signal that ended it; 0 when it is still running or exited.
  int endingSignal() { return ended() && WIFSIGNALED(*status_) ? WTERMSIG(*status_) : 0; }
  // Its state letter in /proc/PID/stat: 'S' asleep, 'T' stopped...
  char state() const {
    std::string stat = readWholeFile("/proc/" + std::to_string(pid_) + "/stat");
    size_t at = stat.rfind(") ");
    return at == std::string::npos || at + 2 >= stat.size() ? '?' : stat[at + 2];
  }
  // Whether a SIGTERM waits for it (blocked).
  bool termPending() const {
    std::string status = readWholeFile("/proc/" + std::to_string(pid_) + "/status");
    for (const char* key : {"\nSigPnd:\t", "\nShdPnd:\t"}) {
      size_t at = status.find(key);
      if (at == std::string::npos) continue;
      unsigned long long mask = std::stoull(status.substr(at + std::strlen(key), 16), nullptr, 16);
      if (mask & (1ULL << (SIGTERM - 1))) return true;
    }
    return false;
  }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

}  // namespace zelto::testing
