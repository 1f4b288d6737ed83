#include "App/Blocking/AppBlocker.h"

#include <signal.h>

#include <algorithm>

#include "App/Blocking/BlockedExecutables.h"
#include "Platform/Log.h"
#include "Platform/ProcessInfo.h"

namespace zelto {

namespace {

bool flag(const nlohmann::json& entry, const char* key) {
  auto value = entry.find(key);
  return value != entry.end() && value->is_boolean() && value->get<bool>();
}

}  // namespace

AppBlocker::AppBlocker(RunLoop& loop, ProcessTable& processes, ExecutableWatch& watch,
                       Options options)
    : loop_(loop),
      processes_(processes),
      watch_(watch),
      options_(options),
      ownPid_(ProcessInfo::processIdentifier()),
      settle_(loop, [this] {
        scan();
        return false;  // one blocked start may follow another: every look is made
      }) {}

AppBlocker::~AppBlocker() { shutdown(); }

void AppBlocker::setEntries(const nlohmann::json& blockedApplications, const FileSystem& fs,
                            const std::string& searchPath) {
  std::map<std::string, Rule> rules;
  std::vector<std::string> problems, scripts, interpreters;
  if (!blockedApplications.is_array()) {
    if (!blockedApplications.is_null()) problems.push_back("the list of entries is no array");
  } else {
    size_t index = 0;
    for (const auto& entry : blockedApplications) {
      const std::string which = "entry " + std::to_string(index++);
      if (!entry.is_object()) {
        problems.push_back(which + ": not an object");
        continue;
      }
      auto path = entry.find("path");
      if (path == entry.end() || !path->is_string()) {
        problems.push_back(which + ": no path");
        continue;
      }
      // When an entry sets several ways of ending, the first of these wins: hide, force quit,
      // soft quit; plain quit when it sets none.
      Rule rule;
      if (flag(entry, "shouldHideInsteadOfQuit")) {
        rule.ending = Ending::kHide;
      } else if (flag(entry, "shouldAlwaysForceQuit")) {
        rule.ending = Ending::kForceQuit;
      } else if (flag(entry, "performOnlySoftKillThenLeaveOpen")) {
        rule.ending = Ending::kSoftQuit;
      }
      rule.reopen = flag(entry, "shouldReopenWhenUnzeltoing");
      auto resolved = BlockedExecutables::resolve(path->get<std::string>(), fs, searchPath);
      for (auto& problem : resolved.problems) problems.push_back(std::move(problem));
      // An executable named by several entries is ended the way the first one says.
      for (const auto& executable : resolved.executables) rules.emplace(executable, rule);
      scripts.insert(scripts.end(), resolved.scripts.begin(), resolved.scripts.end());
      interpreters.insert(interpreters.end(), resolved.interpreters.begin(),
                          resolved.interpreters.end());
    }
  }
  std::set<std::string> current;
  for (const auto& problem : problems) {
    if (!problems_.contains(problem) && !current.contains(problem)) {
      log::warning("Blocked application left out: {}", problem);
    }
    current.insert(problem);
  }
  problems_ = std::move(current);
  rules_ = std::move(rules);
  std::vector<std::string> programs;
  for (const auto& [executable, rule] : rules_) programs.push_back(executable);
  // Kept across changes of the entries, with the digests it has read.
  if (!recogniser_ || recogniserFs_ != &fs) {
    recogniser_ = std::make_unique<ProgramRecogniser>(processes_, fs, options_.digestBytesPerLook);
    recogniserFs_ = &fs;
  }
  recogniser_->setFiles(programs, scripts, interpreters);
  if (mode_ != Mode::kEnforcing) return;
  watchExecutables();
  followRescan();
  scan();
}

void AppBlocker::setMode(Mode mode) {
  if (mode == mode_) return;
  const Mode before = mode_;
  mode_ = mode;
  if (before == Mode::kEnforcing) stopEnforcing();
  if (mode == Mode::kEnforcing) startEnforcing();
  if (mode == Mode::kOff) reopen();
}

void AppBlocker::shutdown() {
  if (mode_ == Mode::kEnforcing) stopEnforcing();
  mode_ = Mode::kOff;
  reopen_.clear();
}

void AppBlocker::startEnforcing() {
  watchExecutables();
  followRescan();
  scan();
}

void AppBlocker::followRescan() {
  if (mode_ != Mode::kEnforcing || rules_.empty() || options_.rescanSeconds <= 0) {
    rescanTimer_.reset();
  } else if (!rescanTimer_) {
    rescanTimer_ =
        loop_.addTimer(options_.rescanSeconds, options_.rescanSeconds, [this] { scan(); });
  }
}

void AppBlocker::stopEnforcing() {
  watch_.clear();
  rescanTimer_.reset();
  settle_.stop();
  holdTimer_.reset();
  thaw();
  // A quit still waiting for its SIGKILL is left as it is: the program may stay now.
  handled_.clear();
}

void AppBlocker::watchExecutables() {
  std::vector<std::string> executables;
  for (const auto& [executable, rule] : rules_) executables.push_back(executable);
  Status watched = watch_.watch(executables, [this] { onExecutableOpened(); });
  if (!watched.ok() && !watchFailureLogged_) {
    watchFailureLogged_ = true;
    log::warning("Blocked programs that start are ended only at the next regular look: {}",
                 watched.message());
  }
}

void AppBlocker::onExecutableOpened() {
  if (mode_ != Mode::kEnforcing) return;
  scan();
  settle_.start();
}

void AppBlocker::scan() {
  if (mode_ != Mode::kEnforcing || rules_.empty() || !recogniser_) return;
  std::erase_if(handled_, [](const auto& item) { return item.second.process->hasEnded(); });
  recogniser_->refresh();
  for (const auto& entry : processes_.processesOfCurrentUser()) {
    if (entry.pid <= 1 || entry.pid == ownPid_) continue;
    auto known = handled_.find(entry.pid);
    if (known != handled_.end() && !known->second.process->hasEnded()) {
      continue;  // being ended already, or left alone
    }
    std::optional<std::string> blocked = recogniser_->blockedFileOf(entry);
    if (!blocked) continue;
    auto rule = rules_.find(*blocked);
    if (rule == rules_.end()) continue;
    if (known != handled_.end()) handled_.erase(known);
    auto process = processes_.open(entry.pid, entry.executable);
    if (!process.ok()) {
      log::debug("Not ending {}: {}", *blocked, process.status().message());
      continue;
    }
    // Looked at again once pinned: a process that has become another program since (an exec
    // that kept the executable, a loader or interpreter now running something else) is left
    // alone.
    std::optional<ProcessTable::Entry> now = processes_.describe(entry.pid);
    if (!now || (*process)->hasEnded() || recogniser_->blockedFileOf(*now) != blocked) {
      log::debug("Not ending {} (pid {}): it runs something else now", *blocked, entry.pid);
      continue;
    }
    if (entry.executable != *blocked) {
      log::info("Process {} runs {} as {}", entry.pid, *blocked, entry.executable);
    }
    end(std::move(*process), *blocked, rule->second);
  }
}

void AppBlocker::end(std::unique_ptr<ProcessTable::Process> process, const std::string& executable,
                     const Rule& rule) {
  const int pid = process->pid();
  Status sent;
  switch (rule.ending) {
    case Ending::kQuit:
      log::info("Quit {} (pid {})", executable, pid);
      sent = process->signal(SIGTERM);
      break;
    case Ending::kForceQuit:
      log::info("Force quit {} (pid {})", executable, pid);
      sent = process->signal(SIGKILL);
      break;
    case Ending::kSoftQuit:
      log::info("Soft quit {} (pid {})", executable, pid);
      sent = process->signal(SIGTERM);
      break;
    case Ending::kHide:
      log::info("Hid {} (pid {})", executable, pid);
      sent = process->signal(SIGSTOP);
      break;
  }
  if (!sent.ok()) log::warning("Could not end {} (pid {}): {}", executable, pid, sent.message());
  Handled& handled = handled_[pid];
  handled.process = std::move(process);
  handled.ending = rule.ending;
  handled.executable = executable;
  if (rule.ending == Ending::kHide && !holdTimer_ && options_.holdSeconds > 0) {
    holdTimer_ =
        loop_.addTimer(options_.holdSeconds, options_.holdSeconds, [this] { holdHidden(); });
  }
  if (rule.ending == Ending::kQuit) {
    handled.killTimer =
        loop_.addTimer(options_.quitGraceSeconds, 0, [this, pid] { killIfStillThere(pid); });
  }
  const bool quit = rule.ending == Ending::kQuit || rule.ending == Ending::kForceQuit;
  if (quit && rule.reopen &&
      std::find(reopen_.begin(), reopen_.end(), executable) == reopen_.end()) {
    reopen_.push_back(executable);
  }
}

// A hidden program continued by hand (SIGCONT) is stopped again; stopping a stopped one does
// nothing.
void AppBlocker::holdHidden() {
  for (auto& [pid, handled] : handled_) {
    if (handled.ending == Ending::kHide && !handled.process->hasEnded()) {
      handled.process->signal(SIGSTOP).ignoreError();  // it ended meanwhile: nothing to hold
    }
  }
}

void AppBlocker::killIfStillThere(int pid) {
  auto found = handled_.find(pid);
  if (found == handled_.end()) return;
  Handled& handled = found->second;
  handled.killTimer.reset();
  if (handled.process->hasEnded()) return;
  log::info("Force quit {} (pid {}): still running {} s after being asked to quit",
            handled.executable, pid, options_.quitGraceSeconds);
  Status sent = handled.process->signal(SIGKILL);
  if (!sent.ok()) {
    log::warning("Could not end {} (pid {}): {}", handled.executable, pid, sent.message());
  }
}

void AppBlocker::thaw() {
  for (auto& [pid, handled] : handled_) {
    if (handled.ending != Ending::kHide || handled.process->hasEnded()) continue;
    log::info("Woke {} (pid {})", handled.executable, pid);
    Status sent = handled.process->signal(SIGCONT);
    if (!sent.ok()) {
      log::warning("Could not wake {} (pid {}): {}", handled.executable, pid, sent.message());
    }
  }
}

void AppBlocker::reopen() {
  for (const auto& executable : reopen_) {
    Status launched = processes_.launchDetached(executable);
    if (launched.ok()) {
      log::info("Reopened {}", executable);
    } else {
      log::warning("{}", launched.message());
    }
  }
  reopen_.clear();
}

}  // namespace zelto
