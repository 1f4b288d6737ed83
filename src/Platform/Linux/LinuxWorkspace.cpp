#include "Platform/Linux/LinuxWorkspace.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <vector>

#include "Platform/CommandLineProgram.h"
#include "Platform/Linux/LinuxProcessTable.h"
#include "Platform/Log.h"
#include "Platform/PropertyList.h"

namespace zelto {

namespace {

// The path with every link resolved and no "." or ".." left.
Result<std::string> canonicalPath(const std::string& path) {
  std::error_code error;
  auto canonical = std::filesystem::canonical(path, error);
  if (error) return Status::failure(error.message());
  return canonical.string();
}

// B for an executable at B/Contents/MacOS/NAME; nothing for any other path.
std::optional<std::string> bundleOfExecutable(const std::string& executablePath) {
  std::string macos = path::deletingLastComponent(executablePath);
  std::string contents = path::deletingLastComponent(macos);
  if (path::lastComponent(macos) != "MacOS" || path::lastComponent(contents) != "Contents") {
    return std::nullopt;
  }
  std::string bundle = path::deletingLastComponent(contents);
  if (bundle.empty()) return std::nullopt;
  return bundle;
}

}  // namespace

// Without a watch of the executables, starts are found by the readings of the list.
constexpr const char* kStartsUnwatchedLine =
    "Application starts are noticed only when the list is read";

LinuxWorkspace::LinuxWorkspace(RunLoop& loop)
    : loop_(loop),
      children_(
          loop, [this](pid_t pid) { onChildExit(pid); },
          [this](const Status& why) { endsUnwatched(why); }),
      executableWatch_(loop, kStartsUnwatchedLine),
      settle_(loop, [this] { return settle(); }) {}

bool LinuxWorkspace::resumeIfStopped(int processIdentifier) {
  if (!LinuxProcessTable::isStopped(processIdentifier)) return false;
  if (::kill(processIdentifier, SIGCONT) != 0) {
    log::warning("Can't continue process {}: {}", processIdentifier, std::strerror(errno));
    return false;
  }
  return true;
}

std::vector<RunningApplication> LinuxWorkspace::runningApplications() {
  executableWatch_.readNow();  // an exec under way asks for the whole table
  bool changed = (!listRead_ || settle_.isActive()) ? rescan() : review();
  if (changed) postNotification();
  std::vector<RunningApplication> applications;
  for (const auto& [pid, entry] : listed_) applications.push_back(entry.application);
  return applications;
}

std::optional<std::string> LinuxWorkspace::executableOf(pid_t pid) const {
  // A zombie has no executable any more: it reads as ended, like a process that is gone. An
  // executable replaced on disk while running (an update) still names its bundle.
  auto executable = LinuxProcessTable::executableOf(pid);
  if (!executable) return std::nullopt;
  return executable->path;
}

std::optional<LinuxWorkspace::Found> LinuxWorkspace::recognise(pid_t pid) {
  if (auto bundle = children_.bundleOf(pid)) {
    auto identifier = bundles_.identifierOf(*bundle);
    if (!identifier) return std::nullopt;
    return Found{*bundle, *identifier, "", ""};
  }
  auto executable = executableOf(pid);
  if (!executable) return std::nullopt;
  std::string script;
  auto bundle = bundleOfExecutable(*executable);
  if (!bundle && CommandLineProgram::isInterpreterName(*executable)) {
    if (auto found = bundleScriptOf(pid)) {
      script = *found;
      bundle = bundleOfExecutable(script);
    }
  }
  if (!bundle) return std::nullopt;
  // The kernel names the executable by its canonical path, so its bundle's path is canonical;
  // the script's path was made canonical.
  auto identifier = bundles_.identifierOf(*bundle);
  if (!identifier) return std::nullopt;
  return Found{*bundle, *identifier, *executable, script};
}

std::optional<std::string> LinuxWorkspace::bundleScriptOf(pid_t pid) const {
  auto arguments = LinuxProcessTable::commandLineOf(pid);
  if (!arguments.ok()) return std::nullopt;  // ended meanwhile, most likely
  auto workingDirectory = LinuxProcessTable::workingDirectoryOf(pid);
  for (const auto& candidate : CommandLineProgram::scriptCandidates(*arguments)) {
    const std::string path = CommandLineProgram::absoluteAgainst(
        candidate, workingDirectory.ok() ? *workingDirectory : std::string());
    if (path.empty()) continue;
    auto canonical = canonicalPath(path);
    if (!canonical.ok() || !bundleOfExecutable(*canonical) ||
        !BundleFactsCache::regularFileVersion(*canonical)) {
      continue;
    }
    return *canonical;
  }
  return std::nullopt;
}

bool LinuxWorkspace::rescan() {
  children_.reapUnwatched();
  bool changed = false;
  std::set<pid_t> present;

  auto pids = LinuxProcessTable::processNumbers();
  if (!pids) return false;
  for (pid_t pid : *pids) {
    struct stat st {};
    const std::string dir = "/proc/" + std::to_string(pid);
    if (::stat(dir.c_str(), &st) != 0 || st.st_uid != uid_) continue;
    if (lookAt(pid)) changed = true;
    if (listed_.contains(pid)) present.insert(pid);
  }

  std::vector<pid_t> gone;
  for (const auto& [pid, entry] : listed_) {
    if (!present.contains(pid)) gone.push_back(pid);
  }
  for (pid_t pid : gone) forget(pid);
  if (!listRead_) {
    listRead_ = true;  // the first reading establishes the list: nothing to compare with
    return false;
  }
  return changed || !gone.empty();
}

bool LinuxWorkspace::review() {
  children_.reapUnwatched();
  bool changed = false;
  std::vector<pid_t> pids;
  for (const auto& [pid, entry] : listed_) {
    if (pid != self_) pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    struct stat st {};
    if (::stat(("/proc/" + std::to_string(pid)).c_str(), &st) != 0 || st.st_uid != uid_) {
      forget(pid);
      changed = true;
    } else if (lookAt(pid)) {
      changed = true;
    }
  }
  return changed;
}

bool LinuxWorkspace::lookAt(pid_t pid) {
  auto found = recognise(pid);
  bool changed = false;
  auto known = listed_.find(pid);
  if (known != listed_.end()) {
    // Still the same process, found the same way: a child still unreaped, or a process whose
    // pidfd has not ended, running the same executable of the same bundle.
    Listed& entry = known->second;
    if (found && found->executablePath == entry.executablePath &&
        found->scriptPath == entry.scriptPath &&
        found->bundlePath == entry.application.bundlePath && !entry.process.hasEnded()) {
      if (entry.application.bundleIdentifier == found->identifier) return false;
      entry.application.bundleIdentifier = found->identifier;
      return true;
    }
    forget(pid);
    changed = true;
  }
  if (found && list(pid, *found)) changed = true;
  return changed;
}

bool LinuxWorkspace::list(pid_t pid, const Found& found) {
  Listed listed;
  listed.application = RunningApplication{pid, found.identifier, found.bundlePath, false};
  listed.executablePath = found.executablePath;
  listed.scriptPath = found.scriptPath;
  if (!found.executablePath.empty()) {
    // The pidfd pins the process; recognising it again afterwards and finding the process still
    // alive proves both answers are about that same process, not a new one that has taken over
    // the number.
    auto process = ProcessWatch::open(pid);
    if (recognise(pid) != found) return false;  // ended or changed meanwhile
    if (process.ok()) {
      if (process->hasEnded()) return false;
      listed.process = std::move(*process);
      Status watched = listed.process.watchEnd(loop_, [this, pid] { onListedExit(pid); });
      if (!watched.ok()) endsUnwatched(watched);
    } else {
      endsUnwatched(process.status());  // still listed; its end is found by a later reading
    }
    // A script is opened by its interpreter when it starts; the interpreter by every script.
    watchExecutable(found.scriptPath.empty() ? found.executablePath : found.scriptPath);
  }
  listed_[pid] = std::move(listed);
  return true;
}

void LinuxWorkspace::endsUnwatched(const Status& why) {
  if (endWatchFailureLogged_) return;
  endWatchFailureLogged_ = true;
  log::warning("Ends of applications are noticed only when the list is read: {}", why.message());
}

void LinuxWorkspace::forget(pid_t pid) { listed_.erase(pid); }

void LinuxWorkspace::onListedExit(pid_t pid) {
  if (!listed_.contains(pid)) return;
  forget(pid);
  notifyObservers();
}

void LinuxWorkspace::onChildExit(pid_t pid) {
  if (!listed_.contains(pid)) return;
  forget(pid);
  notifyObservers();
}

Status LinuxWorkspace::launchApplication(const std::string& bundlePath) {
  // Every failure is logged as an error, and its line is the reason returned.
  auto fail = [](const std::string& reason) {
    log::error("{}", reason);
    return Status::failure(reason);
  };
  if (bundlePath.empty()) return fail("Could not launch an application: no bundle path given");
  const std::string couldNot = "Could not launch the application at " + bundlePath + ": ";
  auto bundle = canonicalPath(bundlePath);
  if (!bundle.ok()) return fail(couldNot + bundle.status().message());
  std::string infoPath = path::appendingComponent(*bundle, "Contents/Info.plist");
  const BundleFactsCache::Facts* facts = bundles_.factsOf(*bundle);
  if (!facts) {
    auto bytes =
        LocalFileSystem().readFile(infoPath, PropertyList::kMaxBytes);  // why it is no file
    return fail(couldNot +
                (bytes ? infoPath + " changed while it was read" : bytes.status().message()));
  }
  if (!facts->readFailure.empty()) return fail(couldNot + facts->readFailure);
  if (!facts->isPropertyList) return fail(couldNot + infoPath + " is not a property list");
  if (!facts->executableName || !BundleFactsCache::isPlainFileName(*facts->executableName)) {
    return fail(couldNot + infoPath + " names no executable file");
  }
  const std::string identifier = facts->identifier;
  const std::string executable =
      path::appendingComponent(*bundle, "Contents/MacOS/" + *facts->executableName);
  // The list as it stands before the launch, so that the launch is told as a change.
  if (!listRead_) rescan();
  // Watched before the exec, so that no start by someone else slips in between; and the events
  // queued so far read now, so that the exec's own open is the only new one on that watch.
  watchExecutable(executable);
  executableWatch_.readNow();
  auto pid = children_.launch(executable, *bundle);
  if (!pid.ok()) return fail(couldNot + executable + ": " + pid.status().message());
  // The spawn returns once the exec has happened, so its open of the executable is queued.
  executableWatch_.readNow(executable);

  // Listed as what it was launched from: no need to read the process table for it.
  Listed& listed = listed_[*pid];
  listed = Listed{};
  listed.application = RunningApplication{*pid, identifier, *bundle, false};
  postNotification();
  return Status::success();
}

void LinuxWorkspace::refreshRunningApplications() {
  for (const auto& bundle : startsWatched_) watchStartsOf(bundle);
  executableWatch_.readNow();
  if (rescan()) postNotification();
}

void LinuxWorkspace::watchForStarts(const std::string& bundlePath) {
  startsWatched_.insert(bundlePath);
  watchStartsOf(bundlePath);
}

void LinuxWorkspace::watchStartsOf(const std::string& bundlePath) {
  // Found again each time: the bundle may be missing for now, or name another executable later.
  auto bundle = canonicalPath(bundlePath);
  if (!bundle.ok()) return;
  if (auto executable = bundles_.executableOf(*bundle)) watchExecutable(*executable);
}

void LinuxWorkspace::watchExecutable(const std::string& executablePath) {
  if (startWatchFailureLogged_ || !watchedExecutables_.insert(executablePath).second) return;
  Status watched = executableWatch_.watch(
      std::vector<std::string>(watchedExecutables_.begin(), watchedExecutables_.end()),
      [this] { onExecutableOpened(); });
  if (!watched.ok()) {
    startWatchFailureLogged_ = true;
    log::warning("{}: {}", kStartsUnwatchedLine, watched.message());
  }
}

void LinuxWorkspace::onExecutableOpened() {
  // Another exec opened a watched file while looking: the spacing starts over.
  settle_.start();
}

bool LinuxWorkspace::settle() {
  // A change found ends the looking; so does a few looks finding nothing (the open was no exec).
  if (!rescan()) return false;
  notifyObservers();
  return true;
}

void LinuxWorkspace::postNotification() {
  // A change found while a caller reads the list is told later, on the loop: the caller may be
  // an observer in the middle of being told.
  if (notificationPosted_) return;
  notificationPosted_ = true;
  std::weak_ptr<bool> alive = alive_;
  loop_.post([this, alive] {
    if (alive.expired()) return;
    notificationPosted_ = false;
    notifyObservers();
  });
}

}  // namespace zelto
