#include "Platform/Linux/LaunchedChildren.h"

#include <sys/wait.h>

#include "Platform/Linux/ProcessSpawner.h"
#include "Platform/Log.h"

namespace zelto {

LaunchedChildren::~LaunchedChildren() {
  for (auto& [pid, child] : children_) {
    child.process.reset();
    ::waitpid(pid, nullptr, WNOHANG);  // one that has just ended is not left behind
  }
}

Result<pid_t> LaunchedChildren::launch(const std::string& executable,
                                       const std::string& bundlePath) {
  auto spawned = ProcessSpawner::spawn({executable}, {.newSession = true});
  if (!spawned.ok()) return spawned.status();
  const pid_t pid = spawned->pid;
  log::debug("Launched {} as process {}", executable, pid);
  Child& child = children_[pid];
  child.bundlePath = bundlePath;
  // A child that has already ended still has its pidfd; without one (or without its watch) the
  // child is reaped by the next reading of the list.
  if (!spawned->pidfd.ok()) {
    onUnwatched_(spawned->pidfd);
    return pid;
  }
  child.process = std::move(spawned->process);
  Status watched = child.process.watchEnd(loop_, [this, pid] { onExit(pid); });
  if (!watched.ok()) onUnwatched_(watched);
  return pid;
}

std::optional<std::string> LaunchedChildren::bundleOf(pid_t pid) const {
  // A child not reaped yet keeps its number, so the number still means the process launched.
  auto child = children_.find(pid);
  if (child == children_.end() || child->second.process.hasEnded()) return std::nullopt;
  return child->second.bundlePath;
}

void LaunchedChildren::reapUnwatched() {
  std::erase_if(children_, [](const auto& item) {
    return !item.second.process.isWatched() && ::waitpid(item.first, nullptr, WNOHANG) != 0;
  });
}

void LaunchedChildren::onExit(pid_t pid) {
  int status = 0;
  pid_t reaped = ::waitpid(pid, &status, WNOHANG);
  if (reaped == 0) return;  // not ended after all
  if (reaped == pid) log::debug("Launched process {} ended with status {:#x}", pid, status);
  // Out of the list before `onEnd` runs (a launch it makes may be given the same number), but
  // its watch and pidfd are let go after it: a successor is started first.
  auto ended = children_.extract(pid);
  onEnd_(pid);
}

}  // namespace zelto
