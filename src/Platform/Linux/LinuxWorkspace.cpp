#include "Platform/Linux/LinuxWorkspace.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <vector>

#include "Platform/CommandLineProgram.h"
#include "Platform/Linux/InotifyReader.h"
#include "Platform/Linux/LinuxProcessTable.h"
#include "Platform/Log.h"
#include "Platform/PropertyList.h"

extern char** environ;

namespace zelto {

namespace {

// The first re-read of the list after an executable was opened, and the last one: an exec that
// has opened its file has not always replaced the process image yet.
constexpr double kFirstSettleDelaySeconds = 0.05;
constexpr double kLastSettleDelaySeconds = 3.2;

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

// A name that stays inside Contents/MacOS.
bool isPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

}  // namespace

LinuxWorkspace::LinuxWorkspace(RunLoop& loop) : loop_(loop) {
  inotify_.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!inotify_.valid()) {
    log::warning("Application starts are noticed only when the list is read: inotify: {}",
                 std::strerror(errno));
    return;
  }
  auto watch = loop_.watchReadable(inotify_.get(), [this] { readExecutableEvents(); });
  if (!watch.ok()) {
    log::warning("Application starts are noticed only when the list is read: {}",
                 watch.status().message());
    inotify_.reset();
    return;
  }
  inotifyWatch_ = std::move(*watch);
}

LinuxWorkspace::~LinuxWorkspace() {
  settleTimer_.reset();
  listed_.clear();
  for (auto& [pid, child] : children_) {
    child.process.reset();
    ::waitpid(pid, nullptr, WNOHANG);  // one that has just ended is not left behind
  }
  inotifyWatch_.reset();
}

bool LinuxWorkspace::resumeIfStopped(int processIdentifier) {
  if (!LinuxProcessTable::isStopped(processIdentifier)) return false;
  if (::kill(processIdentifier, SIGCONT) != 0) {
    log::warning("Can't continue process {}: {}", processIdentifier, std::strerror(errno));
    return false;
  }
  return true;
}

std::vector<RunningApplication> LinuxWorkspace::runningApplications() {
  readExecutableEvents();  // an exec under way asks for the whole table
  bool changed = (!listRead_ || settleTimer_) ? rescan() : review();
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

std::optional<LinuxWorkspace::FileVersion> LinuxWorkspace::regularFileVersion(
    const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return FileVersion{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                     static_cast<uint64_t>(st.st_size),
                     static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

const LinuxWorkspace::BundleFacts* LinuxWorkspace::factsOfBundle(const std::string& bundlePath) {
  std::string infoPath = path::appendingComponent(bundlePath, "Contents/Info.plist");
  auto version = regularFileVersion(infoPath);
  if (!version) {
    bundles_.erase(bundlePath);
    return nullptr;
  }
  auto cached = bundles_.find(bundlePath);
  if (cached != bundles_.end() && cached->second.version == *version) return &cached->second;
  // Read after the stat: a file changed in between reads as changed again next time.
  BundleFacts facts;
  facts.version = *version;
  if (auto bytes = fs_.readFile(infoPath, PropertyList::kMaxBytes)) {
    auto plist = PropertyList::parse(*bytes);
    if (plist && plist->is_object()) {
      facts.isPropertyList = true;
      auto identifier = plist->find("CFBundleIdentifier");
      if (identifier != plist->end() && identifier->is_string()) {
        facts.identifier = identifier->get<std::string>();
      }
      auto executable = plist->find("CFBundleExecutable");
      if (executable != plist->end() && executable->is_string()) {
        facts.executableName = executable->get<std::string>();
      }
    }
  } else {
    facts.readFailure = bytes.status().message();
  }
  BundleFacts& stored = bundles_[bundlePath];
  stored = std::move(facts);
  return &stored;
}

std::optional<std::string> LinuxWorkspace::identifierOfBundle(const std::string& bundlePath) {
  const BundleFacts* facts = factsOfBundle(bundlePath);
  if (!facts) return std::nullopt;
  return facts->identifier;
}

std::optional<LinuxWorkspace::Found> LinuxWorkspace::recognise(pid_t pid) {
  // A child not reaped yet keeps its number, so the number still means the process launched.
  auto child = children_.find(pid);
  if (child != children_.end() && !child->second.process.hasEnded()) {
    auto identifier = identifierOfBundle(child->second.bundlePath);
    if (!identifier) return std::nullopt;
    return Found{child->second.bundlePath, *identifier, "", ""};
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
  auto identifier = identifierOfBundle(*bundle);
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
    if (!canonical.ok() || !bundleOfExecutable(*canonical) || !regularFileVersion(*canonical)) {
      continue;
    }
    return *canonical;
  }
  return std::nullopt;
}

bool LinuxWorkspace::rescan() {
  reapUnwatchedChildren();
  bool changed = false;
  std::set<pid_t> present;
  const uid_t uid = ::getuid();

  auto pids = LinuxProcessTable::processNumbers();
  if (!pids) return false;
  for (pid_t pid : *pids) {
    struct stat st {};
    const std::string dir = "/proc/" + std::to_string(pid);
    if (::stat(dir.c_str(), &st) != 0 || st.st_uid != uid) continue;
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
  reapUnwatchedChildren();
  bool changed = false;
  const uid_t uid = ::getuid();
  std::vector<pid_t> pids;
  for (const auto& [pid, entry] : listed_) pids.push_back(pid);
  for (pid_t pid : pids) {
    struct stat st {};
    if (::stat(("/proc/" + std::to_string(pid)).c_str(), &st) != 0 || st.st_uid != uid) {
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
      watchEnd(listed.process, [this, pid] { onListedExit(pid); });
    } else {
      endsUnwatched(process.status());  // still listed; its end is found by a later reading
    }
    // A script is opened by its interpreter when it starts; the interpreter by every script.
    watchExecutable(found.scriptPath.empty() ? found.executablePath : found.scriptPath);
  }
  listed_[pid] = std::move(listed);
  return true;
}

void LinuxWorkspace::watchEnd(ProcessWatch& process, std::function<void()> onEnd) {
  Status watched = process.watchEnd(loop_, std::move(onEnd));
  if (!watched.ok()) endsUnwatched(watched);
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
  int status = 0;
  pid_t reaped = ::waitpid(pid, &status, WNOHANG);
  if (reaped == 0) return;  // not ended after all
  if (reaped == pid) {
    log::debug("Launched process {} ended with status {:#x}", pid, status);
  }
  children_.erase(pid);
  if (!listed_.contains(pid)) return;
  forget(pid);
  notifyObservers();
}

void LinuxWorkspace::reapUnwatchedChildren() {
  std::vector<pid_t> ended;
  for (const auto& [pid, child] : children_) {
    if (!child.process.isWatched() && ::waitpid(pid, nullptr, WNOHANG) != 0) ended.push_back(pid);
  }
  for (pid_t pid : ended) children_.erase(pid);
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
  const BundleFacts* facts = factsOfBundle(*bundle);
  if (!facts) {
    auto bytes =
        fs_.readFile(infoPath, PropertyList::kMaxBytes);  // for the reason it is no file to read
    return fail(couldNot +
                (bytes ? infoPath + " changed while it was read" : bytes.status().message()));
  }
  if (!facts->readFailure.empty()) return fail(couldNot + facts->readFailure);
  if (!facts->isPropertyList) return fail(couldNot + infoPath + " is not a property list");
  if (!facts->executableName || !isPlainFileName(*facts->executableName)) {
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
  readExecutableEvents();

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A session of its own, and none of this process's blocked or ignored signals (an ignored
  // SIGPIPE, say, would otherwise carry over). Naming every signal is also the cheapest: the
  // child goes through all of them either way, and asks about each one left out before
  // setting it.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::string argument0 = executable;
  char* argv[] = {argument0.data(), nullptr};
  pid_t pid = -1;
  int result = ::posix_spawn(&pid, executable.c_str(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (result != 0) return fail(couldNot + executable + ": " + std::strerror(result));
  log::debug("Launched {} as process {}", executable, pid);
  // posix_spawn returns once the exec has happened, so its open of the executable is queued.
  auto watched = watchedExecutables_.find(executable);
  readExecutableEvents(watched != watchedExecutables_.end() ? watched->second : -1);

  Child& child = children_[pid];
  child.bundlePath = *bundle;
  // A child that has already ended still has its pidfd; without one (or without its watch) the
  // child is reaped by the next reading of the list.
  if (auto process = ProcessWatch::open(pid); process.ok()) {
    child.process = std::move(*process);
    watchEnd(child.process, [this, pid] { onChildExit(pid); });
  } else {
    endsUnwatched(process.status());
  }

  // Listed as what it was launched from: no need to read the process table for it.
  Listed& listed = listed_[pid];
  listed = Listed{};
  listed.application = RunningApplication{pid, identifier, *bundle, false};
  postNotification();
  return Status::success();
}

void LinuxWorkspace::refreshRunningApplications() {
  for (const auto& bundle : startsWatched_) watchStartsOf(bundle);
  readExecutableEvents();
  if (rescan()) postNotification();
}

void LinuxWorkspace::watchForStarts(const std::string& bundlePath) {
  startsWatched_.insert(bundlePath);
  watchStartsOf(bundlePath);
}

void LinuxWorkspace::watchStartsOf(const std::string& bundlePath) {
  if (!inotifyWatch_) return;
  // Found again each time: the bundle may be missing for now, or name another executable later.
  auto bundle = canonicalPath(bundlePath);
  if (!bundle.ok()) return;
  const BundleFacts* facts = factsOfBundle(*bundle);
  if (!facts || !facts->executableName || !isPlainFileName(*facts->executableName)) return;
  watchExecutable(path::appendingComponent(*bundle, "Contents/MacOS/" + *facts->executableName));
}

void LinuxWorkspace::watchExecutable(const std::string& executablePath) {
  if (!inotifyWatch_ || watchedExecutables_.contains(executablePath)) return;
  // IN_OPEN: an exec opens the file. The others: the file was replaced or removed, so the watch
  // must move to whatever stands at the path now.
  int wd = ::inotify_add_watch(inotify_.get(), executablePath.c_str(),
                               IN_OPEN | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF);
  if (wd < 0) {
    log::debug("Not watching {} for starts: {}", executablePath, std::strerror(errno));
    return;
  }
  watchedExecutables_[executablePath] = wd;
}

void LinuxWorkspace::readExecutableEvents(int ownExec) {
  if (!inotifyWatch_) return;
  bool opened = false;
  std::set<int> moved;
  Status read = InotifyReader::drain(inotify_.get(), [&](const inotify_event& event) {
    uint32_t mask = event.mask;
    if ((mask & IN_OPEN) && event.wd == ownExec) {
      mask &= ~static_cast<uint32_t>(IN_OPEN);  // that exec opens its file once
      ownExec = -1;
    }
    if (mask & (IN_OPEN | IN_Q_OVERFLOW)) opened = true;
    if (mask & (IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) moved.insert(event.wd);
  });
  if (!read.ok()) {
    log::warning("Application starts are noticed only when the list is read: {}", read.message());
    inotifyWatch_.reset();
    watchedExecutables_.clear();
    inotify_.reset();
    moved.clear();
  }
  if (!moved.empty()) {
    std::vector<std::string> paths;
    for (auto it = watchedExecutables_.begin(); it != watchedExecutables_.end();) {
      if (moved.contains(it->second)) {
        paths.push_back(it->first);
        it = watchedExecutables_.erase(it);
      } else {
        ++it;
      }
    }
    for (int wd : moved) ::inotify_rm_watch(inotify_.get(), wd);  // an ended one just fails
    for (const auto& path : paths) watchExecutable(path);
  }
  if (!opened) return;
  if (settleTimer_) {
    openedWhileSettling_ = true;  // start the spacing over at the next look
    return;
  }
  settleDelaySeconds_ = kFirstSettleDelaySeconds;
  settleTimer_ = loop_.addTimer(settleDelaySeconds_, 0, [this] { settle(); });
}

void LinuxWorkspace::settle() {
  bool changed = rescan();
  // Another exec opened a watched file meanwhile: keep looking, briefly spaced again. A change
  // found ends the looking; so does a few looks finding nothing (the open was no exec).
  if (openedWhileSettling_) {
    openedWhileSettling_ = false;
    settleDelaySeconds_ = kFirstSettleDelaySeconds;
  } else {
    settleDelaySeconds_ = changed ? kLastSettleDelaySeconds * 2 : settleDelaySeconds_ * 4;
  }
  if (settleDelaySeconds_ > kLastSettleDelaySeconds) {
    settleTimer_.reset();
  } else {
    settleTimer_ = loop_.addTimer(settleDelaySeconds_, 0, [this] { settle(); });
  }
  if (changed) notifyObservers();
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
