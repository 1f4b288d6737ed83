// AgentUnderTest: the built agent, run from a private copy of the built bundle under a fresh
// home, with the stand-in main application recording its launches, for end-to-end tests.
//
// The agent logs at the debug level to a file the test reads. Only launches of this copy's
// stand-in are counted, so other copies of the bundle running on the machine don't matter.
// When the test runs as root the agent can be run as the unprivileged user 65534 (its whole
// directory handed over first), so that permissions hold for it. Everything it started is
// killed when the object goes. One test thread.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "App/Data/Preferences/JSONValues.h"
#include "Platform/Clock.h"
#include "Support/ChildProcess.h"
#include "Support/TempDir.h"

namespace zelto::testing {

class AgentUnderTest {
 public:
  AgentUnderTest() {
    std::filesystem::create_directories(dir_ / "home/.local/share/Zelto");
    std::filesystem::copy(ZELTO_TEST_APP_DIR, dir_ / "Zelto.app",
                          std::filesystem::copy_options::recursive);
    zeltoctl({"log-level", "debug"});
  }
  ~AgentUnderTest() {
    agent_.reset();
    for (int pid : launchedPids()) ::kill(pid, SIGKILL);
  }

  // Why the agent can't run unprivileged here; empty when it can (or the test isn't root).
  std::string dropPrivileges() {
    if (::geteuid() != 0) return "";
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path(), error)) {
      if (::lchown(entry.path().c_str(), kNobody, kNobody) != 0) return "can't hand files over";
    }
    if (error || ::chown(dir_.path().c_str(), kNobody, kNobody) != 0) {
      return "can't hand the test directory to user 65534";
    }
    runAs_ = UserIds{kNobody, kNobody};
    return "";
  }

  void start() {
    agent_ = std::make_unique<ChildProcess>(
        dir_ / "Zelto.app/Contents/MacOS/Agent.app/Contents/MacOS/Agent", environment(),
        dir_ / "agent.err", std::vector<std::string>{}, "/dev/null", runAs_);
  }
  ChildProcess& process() { return *agent_; }

  // Runs this copy's zeltoctl as the agent's user, with the agent's environment: its exit
  // status (-1 when it didn't exit) and what it printed.
  std::pair<int, std::string> zeltoctl(std::vector<std::string> arguments) const {
    return runToEnd(dir_ / "Zelto.app/Contents/MacOS/zeltoctl", environment(), dir_.path(),
                    std::move(arguments), runAs_);
  }

  const TempDir& dir() const { return dir_; }
  std::string configDir() const { return dir_ / "home/.local/share/Zelto"; }
  std::string configFile() const { return configDir() + "/default.cfg"; }
  // Replaces the configuration atomically, as the main application does, owned by the agent's
  // user.
  void writeConfig(const std::string& text) const {
    std::string temp = dir_.write("config.tmp", text);
    if (runAs_) (void)::chown(temp.c_str(), runAs_->user, runAs_->group);
    std::filesystem::rename(temp, configFile());
  }
  static std::string timerRunning() {
    Date in1h = SystemClock().now().addingTimeInterval(3600);
    return R"({"zeltoType": 1, "zeltoUnblockDate": ")" + JSONValues::formatDate(in1h) + R"("})";
  }

  std::vector<int> launchedPids() const {
    std::vector<int> pids;
    std::istringstream lines(readWholeFile(dir_ / "launches"));
    for (int pid; lines >> pid;) pids.push_back(pid);
    return pids;
  }
  std::string log() const { return readWholeFile(dir_ / "agent.err"); }
  // Lines of the agent's log holding `text`.
  size_t count(const std::string& text) const { return occurrences(log(), text); }

  // Kills the running stand-in and waits for the next launch; false when none comes.
  bool killStandInAndAwaitRelaunch() {
    std::vector<int> pids = launchedPids();
    if (pids.empty()) return false;
    ::kill(pids.back(), SIGKILL);
    return eventually([&] { return launchedPids().size() > pids.size(); });
  }

  // Blocking off with the application running, then on again: with an empty configuration the
  // next stop of the application is final, until a timer is set again, which is followed at
  // once (through the file watch: the periodic check is far away).
  ::testing::AssertionResult turnBlockingOffAndOnAgain() {
    writeConfig("{}");
    const std::vector<int> pids = launchedPids();
    const size_t idle = count("Zelto doesn't need launching");
    if (pids.empty()) return ::testing::AssertionFailure() << "nothing launched yet";
    ::kill(pids.back(), SIGKILL);
    if (!eventually([&] { return count("Zelto doesn't need launching") > idle; })) {
      return ::testing::AssertionFailure() << "not idle with blocking off\n" << log();
    }
    if (launchedPids().size() != pids.size()) {
      return ::testing::AssertionFailure() << "launched with blocking off\n" << log();
    }
    writeConfig(timerRunning());
    if (!eventually([&] { return launchedPids().size() > pids.size(); })) {
      return ::testing::AssertionFailure() << "not launched with blocking on again\n" << log();
    }
    return ::testing::AssertionSuccess();
  }

  // From /proc: the agent's resident memory now and at its peak (kB), and open descriptors.
  long memoryKilobytes(const std::string& field = "VmRSS:") const {
    std::istringstream status(readWholeFile("/proc/" + std::to_string(agent_->pid()) + "/status"));
    for (std::string line; std::getline(status, line);) {
      if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
    }
    return -1;
  }
  size_t openDescriptors() const {
    std::error_code error;
    std::filesystem::directory_iterator fds("/proc/" + std::to_string(agent_->pid()) + "/fd",
                                            error);
    return error ? 0 : std::distance(fds, {});
  }

 private:
  static constexpr uid_t kNobody = 65534;

  Environment environment() const {
    return {{"HOME", dir_ / "home"},          {"XDG_DATA_HOME", std::nullopt},
            {"XDG_STATE_HOME", std::nullopt}, {"XDG_CONFIG_HOME", std::nullopt},
            {"XDG_CACHE_HOME", std::nullopt}, {"ZELTO_STANDIN_LOG", dir_ / "launches"}};
  }

  TempDir dir_;
  std::optional<UserIds> runAs_;
  std::unique_ptr<ChildProcess> agent_;
};

}  // namespace zelto::testing
