#include "MainApp/ScriptRunner.h"

#include <algorithm>
#include <vector>

#include "Platform/Linux/ScriptProcess.h"
#include "Platform/Log.h"

namespace zelto {

namespace {

bool isBlank(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; });
}

// Splits a script's output into lines and logs them, within the run's caps.
class OutputLogger {
 public:
  OutputLogger(const std::string& name, size_t maxLineBytes, size_t maxLoggedBytes)
      : name_(name), maxLine_(maxLineBytes), budget_(maxLoggedBytes) {}

  void add(std::string_view output) {
    for (char c : output) {
      if (c == '\n') {
        endLine();
      } else if (line_.size() < maxLine_) {
        line_.push_back(c);
      } else {
        cut_ = true;
      }
    }
  }

  // The last line, when the output does not end with a newline.
  void finish() {
    if (!line_.empty() || cut_) endLine();
  }

 private:
  void endLine() {
    if (line_.ends_with('\r')) line_.pop_back();
    if (!silenced_) {
      // A line costs its newline too, so that empty lines are no way round the cap.
      if (line_.size() + 1 > budget_) {
        silenced_ = true;
        log::warning("{}: more output than the log takes; the rest is left out", name_);
      } else {
        budget_ -= line_.size() + 1;
        log::info("{}: {}{}", name_, line_, cut_ ? " [...]" : "");
      }
    }
    line_.clear();
    cut_ = false;
  }

  const std::string& name_;
  const size_t maxLine_;
  size_t budget_;
  std::string line_;
  bool cut_ = false;
  bool silenced_ = false;
};

}  // namespace

ScriptRunner::ScriptRunner() : ScriptRunner(Options{}) {}

ScriptRunner::ScriptRunner(Options options) : options_(options) {}

ScriptRunner::~ScriptRunner() { shutdown(); }

void ScriptRunner::run(const std::string& name, const std::string& script) {
  if (isBlank(script)) return;
  std::lock_guard lock(mutex_);
  collectEndedLocked();
  if (shutDown_) {
    log::warning("{}: not run, the application is quitting", name);
    return;
  }
  auto process = ScriptProcess::start(script);
  if (!process.ok()) {
    log::error("{}: {}", name, process.status().message());
    return;
  }
  log::info("{}: started as process {}", name, (*process)->pid());
  Run& run = runs_.emplace_back();
  run.name = name;
  run.process = std::move(*process);
  // Started while mutex_ is held, so `run.thread` is set before the thread can look at its run.
  run.thread = std::thread([this, &run] { wait(run); });
}

void ScriptRunner::wait(Run& run) {
  OutputLogger output(run.name, options_.maxLineBytes, options_.maxLoggedBytes);
  ScriptProcess::Ending ending =
      run.process->wait(options_.timeLimit, [&output](std::string_view text) { output.add(text); });
  output.finish();
  if (ending.timedOut) {
    log::warning("{}: still running after {} s; killed it and its processes", run.name,
                 std::chrono::duration<double>(options_.timeLimit).count());
  } else if (ending.killed) {
    log::info("{}: killed, the application is quitting", run.name);
  } else if (ending.exited) {
    log::info("{}: exited with status {}", run.name, ending.code);
  } else if (ending.signal != 0) {
    log::warning("{}: ended by signal {}", run.name, ending.signal);
  } else {
    log::warning("{}: ended, how is unknown", run.name);
  }
  std::lock_guard lock(mutex_);
  run.ended = true;
}

void ScriptRunner::collectEndedLocked() {
  for (auto it = runs_.begin(); it != runs_.end();) {
    if (it->ended) {
      it->thread.join();  // its last step was to set `ended`
      it = runs_.erase(it);
    } else {
      ++it;
    }
  }
}

void ScriptRunner::shutdown() {
  std::list<Run> runs;
  {
    std::lock_guard lock(mutex_);
    shutDown_ = true;
    for (Run& run : runs_) {
      if (!run.ended) run.process->kill();
    }
    runs.splice(runs.end(), runs_);
  }
  // Joined without the lock: each thread takes it once more to say it has ended. The list's
  // nodes keep their addresses when spliced.
  for (Run& run : runs) run.thread.join();
}

size_t ScriptRunner::runningCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(
      std::count_if(runs_.begin(), runs_.end(), [](const Run& run) { return !run.ended; }));
}

}  // namespace zelto
