// LaunchedChildren: the programs a workspace launched, kept as its children until each is
// reaped, so that none is left a zombie.
//
// `launch` starts an executable (see ProcessSpawner) without arguments, in a session of its own.
// Each child's pidfd is watched on the loop: when it ends it is reaped and `onEnd` is told. A
// child whose end can't be watched (no pidfd, or the loop can't watch it; `onUnwatched` is told
// why) is reaped by `reapUnwatched`, which the owner calls at each reading of its list.
//
// Ownership: the owner keeps the loop alive longer; the children's pidfds are owned here.
// Destroying reaps the children that have ended; the others live on. Threads: the loop's only.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "Platform/Linux/ProcessWatch.h"
#include "Platform/RunLoop.h"
#include "Platform/Status.h"

namespace zelto {

class LaunchedChildren {
 public:
  LaunchedChildren(RunLoop& loop, std::function<void(pid_t)> onEnd,
                   std::function<void(const Status&)> onUnwatched)
      : loop_(loop), onEnd_(std::move(onEnd)), onUnwatched_(std::move(onUnwatched)) {}
  ~LaunchedChildren();
  LaunchedChildren(const LaunchedChildren&) = delete;
  LaunchedChildren& operator=(const LaunchedChildren&) = delete;

  // The child's number; the failure is the system's reason alone.
  Result<pid_t> launch(const std::string& executable, const std::string& bundlePath);
  // The bundle child `pid` was launched from, while it has not ended; nothing for any other.
  std::optional<std::string> bundleOf(pid_t pid) const;
  void reapUnwatched();

 private:
  struct Child {
    std::string bundlePath;  // canonical
    ProcessWatch process;
  };
  void onExit(pid_t pid);

  RunLoop& loop_;
  std::function<void(pid_t)> onEnd_;
  std::function<void(const Status&)> onUnwatched_;
  std::map<pid_t, Child> children_;
};

}  // namespace zelto
