// ScriptRunner: runs the user's scripts (at the starts and ends of blocking and of breaks) and
// writes what they print to the log.
//
// `run` starts `/bin/sh -c script` and returns at once; the script's standard input is
// /dev/null, and each line it writes on standard output or error is logged as "NAME: line"
// (a line is cut at `maxLineBytes`, and a run logs at most `maxLoggedBytes` of output, so that a
// chatty script can't flood the log; the rest is read and dropped). A script still running
// after the time limit is killed with its whole process group. The start, the exit status or
// signal and a time-out are logged. A script that is empty or blank runs nothing.
//
// Each run has a thread of its own that waits for the script: scripts are few (one at each
// start or end), the thread's blocking reads keep the code plain, and the run loop is never
// involved, so a slow script can't hold up anything else. Runs are independent.
//
// `shutdown` (also done by the destructor) kills every script still running and joins every
// run's thread, so no thread or unreaped process outlives the runner; later runs are refused.
//
// Ownership: the caller owns the runner. Threads: any thread may call `run`; `shutdown` from
// any thread but a run's own.
#pragma once

#include <chrono>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace zelto {

class ScriptProcess;

class ScriptRunner {
 public:
  struct Options {
    std::chrono::milliseconds timeLimit{std::chrono::seconds(60)};
    size_t maxLineBytes = 1024;
    size_t maxLoggedBytes = 64 * 1024;
  };

  ScriptRunner();
  explicit ScriptRunner(Options options);
  ~ScriptRunner();
  ScriptRunner(const ScriptRunner&) = delete;
  ScriptRunner& operator=(const ScriptRunner&) = delete;

  void run(const std::string& name, const std::string& script);
  void shutdown();

  // How many runs have not yet ended (for tests and the shutdown's log).
  size_t runningCount() const;

 private:
  struct Run {
    std::string name;
    std::unique_ptr<ScriptProcess> process;
    std::thread thread;
    bool ended = false;
  };

  void wait(Run& run);
  // Joins and forgets the runs that have ended; with mutex_ held.
  void collectEndedLocked();

  const Options options_;
  mutable std::mutex mutex_;
  std::list<Run> runs_;  // stable addresses: each run's thread uses its own entry
  bool shutDown_ = false;
};

}  // namespace zelto
