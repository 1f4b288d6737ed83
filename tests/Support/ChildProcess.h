// ChildProcess: runs one of our built programs for an end-to-end test.
//
// The child gets the test's environment with the given changes, its standard error in a file
// the test can read, and is killed (SIGKILL) and reaped if the test ends while it still runs.
// Run by root, it can run as another user (its files must be that user's to use).
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace zelto::testing {

// Waits until `condition` holds, checking often, for at most `bound`; true when it held.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds bound = std::chrono::seconds(20)) {
  auto deadline = std::chrono::steady_clock::now() + bound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

inline std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// How many times `part` occurs in `text`.
inline size_t occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Changes to a child's environment: a value sets that variable, nullopt removes it.
using Environment = std::map<std::string, std::optional<std::string>>;

struct UserIds {
  uid_t user;
  gid_t group;
};

class ChildProcess {
 public:
  // `runAs`: the child drops to that user and group (with no others) before it starts.
  ChildProcess(const std::string& executable, const Environment& environment,
               const std::string& stderrPath, std::vector<std::string> arguments = {},
               const std::string& stdoutPath = "/dev/null",
               std::optional<UserIds> runAs = std::nullopt) {
    // The test's own environment without the variables named, then those given a value.
    std::vector<std::string> texts;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      std::string text = *entry;
      if (!environment.contains(text.substr(0, text.find('=')))) texts.push_back(text);
    }
    for (const auto& [name, value] : environment) {
      if (value) texts.push_back(name + "=" + *value);
    }
    std::vector<char*> envp;
    for (auto& text : texts) envp.push_back(text.data());
    envp.push_back(nullptr);

    std::string path = executable;
    std::vector<char*> argv{path.data()};
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    // fork and exec (posix_spawn can't change the user). Between the two the child makes only
    // async-signal-safe calls.
    pid_ = ::fork();
    if (pid_ != 0) return;
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
        ::dup2(err, 2) < 0 ||
        (runAs && (::setgroups(0, nullptr) != 0 || ::setgid(runAs->group) != 0 ||
                   ::setuid(runAs->user) != 0))) {
      ::_exit(126);
    }
    ::execve(path.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }

  ~ChildProcess() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool started() const { return pid_ > 0; }

  // True while the child has not exited.
  bool running() {
    if (pid_ <= 0 || status_) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = status;
      return false;
    }
    return true;
  }

  void signal(int number) { ::kill(pid_, number); }

  // The raw wait status once the child has exited within `bound`.
  std::optional<int> waitForExit(std::chrono::milliseconds bound = std::chrono::seconds(20)) {
    eventually([this] { return !running(); }, bound);
    return status_;
  }
  // The signal that ended it; 0 while it runs or when it exited.
  int endingSignal() {
    return !running() && status_ && WIFSIGNALED(*status_) ? WTERMSIG(*status_) : 0;
  }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Runs `executable` to its end: its exit code (-1 when it didn't exit) and what it wrote,
// standard output then standard error (kept in `dir`).
inline std::pair<int, std::string> runToEnd(const std::string& executable,
                                            const Environment& environment, const std::string& dir,
                                            std::vector<std::string> arguments,
                                            std::optional<UserIds> runAs = std::nullopt) {
  const std::string out = dir + "/run.out", err = dir + "/run.err";
  ChildProcess child(executable, environment, err, std::move(arguments), out, runAs);
  auto status = child.waitForExit();
  return {status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1,
          readWholeFile(out) + readWholeFile(err)};
}

}  // namespace zelto::testing
