// ChildProcess: runs one of our built programs for an end-to-end test.
//
// The child gets the test's environment with the given changes, its standard error in a file
// the test can read, and is killed (SIGKILL) and reaped if the test ends while it still runs.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
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

class ChildProcess {
 public:
  // `environment` entries with a value set that variable; with nullopt they remove it.
  ChildProcess(const std::string& executable,
               const std::map<std::string, std::optional<std::string>>& environment,
               const std::string& stderrPath, std::vector<std::string> arguments = {},
               const std::string& stdoutPath = "/dev/null") {
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

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::string program = executable;
    std::vector<char*> argv{program.data()};
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
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

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

}  // namespace zelto::testing
