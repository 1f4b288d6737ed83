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
// Runs go on the run loop (see ScriptProcess): their output and their ends are watched there,
// a bounded amount of output read per turn, so a slow or chatty script holds up nothing else.
// Runs are independent.
//
// `shutdown` (also done by the destructor) kills every script still running and reaps its
// shell, so no unreaped process outlives the runner; later runs are refused.
//
// Ownership: the caller owns the runner; the loop must outlive it. Threads: the loop's thread
// only.
#pragma once

#include <chrono>
#include <cstddef>
#include <list>
#include <memory>
#include <string>

#include "Platform/Linux/ScriptProcess.h"
#include "Platform/RunLoop.h"

namespace zelto {

class ScriptRunner {
 public:
  struct Options {
    std::chrono::milliseconds timeLimit{std::chrono::seconds(60)};
    size_t maxLineBytes = 1024;
    size_t maxLoggedBytes = 64 * 1024;
  };

  explicit ScriptRunner(RunLoop& loop);
  ScriptRunner(RunLoop& loop, Options options);
  ~ScriptRunner();
  ScriptRunner(const ScriptRunner&) = delete;
  ScriptRunner& operator=(const ScriptRunner&) = delete;

  void run(const std::string& name, const std::string& script);
  void shutdown();

  // How many runs have not yet ended (for tests).
  size_t runningCount() const { return runs_.size(); }

 private:
  class OutputLogger;
  struct Run {
    std::string name;
    std::unique_ptr<OutputLogger> output;
    std::unique_ptr<ScriptProcess> process;
  };

  void ended(std::list<Run>::iterator run, const ScriptProcess::Ending& ending);

  RunLoop& loop_;
  const Options options_;
  std::list<Run> runs_;  // stable addresses: each run's callbacks use their own entry
  bool shutDown_ = false;
};

}  // namespace zelto
