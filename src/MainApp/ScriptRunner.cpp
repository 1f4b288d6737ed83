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

}  // namespace

// Splits a script's output into lines and logs them, within the run's caps: it keeps at most one
// line of `maxLineBytes`, whatever the script writes.
class ScriptRunner::OutputLogger {
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

ScriptRunner::ScriptRunner(RunLoop& loop) : ScriptRunner(loop, Options{}) {}

ScriptRunner::ScriptRunner(RunLoop& loop, Options options) : loop_(loop), options_(options) {}

ScriptRunner::~ScriptRunner() { shutdown(); }

void ScriptRunner::run(const std::string& name, const std::string& script) {
  if (isBlank(script)) return;
  if (shutDown_) {
    log::warning("{}: not run, the application is quitting", name);
    return;
  }
  auto run = runs_.emplace(runs_.end());
  run->name = name;
  run->output =
      std::make_unique<OutputLogger>(run->name, options_.maxLineBytes, options_.maxLoggedBytes);
  auto process = ScriptProcess::start(
      loop_, script, std::chrono::duration<double>(options_.timeLimit).count(),
      [output = run->output.get()](std::string_view text) { output->add(text); },
      [this, run](const ScriptProcess::Ending& ending) { ended(run, ending); });
  if (!process.ok()) {
    log::error("{}: {}", name, process.status().message());
    runs_.erase(run);
    return;
  }
  run->process = std::move(*process);
  log::info("{}: started as process {}", name, run->process->pid());
}

void ScriptRunner::ended(std::list<Run>::iterator run, const ScriptProcess::Ending& ending) {
  run->output->finish();
  if (ending.timedOut) {
    log::warning("{}: still running after {} s; killed it and its processes", run->name,
                 std::chrono::duration<double>(options_.timeLimit).count());
  } else if (ending.killed) {
    log::info("{}: killed, the application is quitting", run->name);
  } else if (ending.exited) {
    log::info("{}: exited with status {}", run->name, ending.code);
  } else if (ending.signal != 0) {
    log::warning("{}: ended by signal {}", run->name, ending.signal);
  } else {
    log::warning("{}: ended, how is unknown", run->name);
  }
  runs_.erase(run);  // the process too: it has told its end and touches nothing more
}

void ScriptRunner::shutdown() {
  shutDown_ = true;
  // Each kill tells the run's end, which forgets the run.
  while (!runs_.empty()) {
    const Run* first = &runs_.front();
    runs_.front().process->kill();
    if (!runs_.empty() && &runs_.front() == first) runs_.pop_front();
  }
}

}  // namespace zelto
