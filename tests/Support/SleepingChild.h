// SleepingChild: a copy of sleep(1), made under a name of the test's own, run as the test's
// child for a blocker to end; killed and reaped when the test is done with it.
//
// The constructor returns once the child runs the copy (until its exec it is still the test's
// program). Threads: the test's.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "Support/ChildProcess.h"

namespace zelto::testing {

class SleepingChild : public ChildProcess {
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

  // `blockTerm`: SIGTERM stays pending, as in a program that doesn't quit when asked to (the
  // child inherits the mask the test's thread has while it starts it).
  explicit SleepingChild(const std::string& path, bool blockTerm = false)
      : ChildProcess((maskTerm(blockTerm ? SIG_BLOCK : SIG_UNBLOCK), path), {}, "/dev/null",
                     {"1000"}) {
    maskTerm(SIG_UNBLOCK);
    eventually([&] {
      std::error_code error;
      return std::filesystem::read_symlink("/proc/" + std::to_string(pid()) + "/exe", error) ==
             path;
    });
  }

  // True once the child has ended (it is reaped then).
  bool ended() { return !running(); }
  // Its state letter in /proc/PID/stat: 'S' asleep, 'T' stopped...
  char state() const {
    std::string stat = readWholeFile("/proc/" + std::to_string(pid()) + "/stat");
    size_t at = stat.rfind(") ");
    return at == std::string::npos || at + 2 >= stat.size() ? '?' : stat[at + 2];
  }
  // Whether a SIGTERM waits for it (blocked).
  bool termPending() const {
    std::string status = readWholeFile("/proc/" + std::to_string(pid()) + "/status");
    for (const char* key : {"\nSigPnd:\t", "\nShdPnd:\t"}) {
      size_t at = status.find(key);
      if (at == std::string::npos) continue;
      unsigned long long mask = std::stoull(status.substr(at + std::strlen(key), 16), nullptr, 16);
      if (mask & (1ULL << (SIGTERM - 1))) return true;
    }
    return false;
  }

 private:
  static void maskTerm(int how) {
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ::pthread_sigmask(how, &term, nullptr);
  }
};

}  // namespace zelto::testing
