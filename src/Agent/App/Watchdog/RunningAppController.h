// RunningAppController: watches one application, named by its bundle identifier, in the
// workspace's list of running applications, and calls back when it is found running or stopped.
//
// With a bundle path given, only applications of that bundle count: another bundle that claims
// the same identifier (a copy elsewhere on the machine, or one made to pose as it) is not the
// watched application. Paths compare as text; the workspace lists canonical bundle paths, so
// give a canonical one.
//
// With a bundle given, `setup` also asks the workspace to watch for starts of that bundle's
// application, so that one started by someone else is reported as a change of the list.
//
// Each `check` (on installing a callback, and on every change of the list the workspace
// reports) asks the workspace afresh. Found running with a running callback installed: that
// callback runs one second later on the run loop. Otherwise, found not running with a stopped
// callback installed: that callback runs at once, on the caller's thread. Callbacks are not
// one-shot; installing one replaces the previous one of its kind.
//
// Ownership: the creator owns the controller; the workspace and the run loop must outlive it.
// The controller owns its observation of the workspace and its pending one-second timers, and
// ends both when destroyed, so nothing it scheduled runs afterwards. Threads: the run loop's
// thread only (the workspace reports changes there).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "Platform/RunLoop.h"
#include "Platform/Workspace.h"

namespace zelto {

class RunningAppController {
 public:
  using Callback = std::function<void()>;

  // How long after a check that finds the application running its running callback runs.
  static constexpr double kRunningCallbackDelaySeconds = 1.0;

  // Stores the identifier (and the bundle, when given); observes nothing until `setup` (or the
  // first `check`).
  RunningAppController(Workspace& workspace, RunLoop& loop, std::string bundleIdentifier,
                       std::optional<std::string> bundlePath = std::nullopt);
  ~RunningAppController();
  RunningAppController(const RunningAppController&) = delete;
  RunningAppController& operator=(const RunningAppController&) = delete;

  // Starts observing the workspace's list (and, with a bundle given, watching for its starts); a
  // second call does neither twice.
  void setup();
  void check();

  void waitForRunningApplication(Callback block);
  void waitForStoppedApplication(Callback block);

  // Whether at least one application with the identifier (of the bundle, when given) runs and is
  // not terminated.
  bool getIsRunning();
  // The process numbers of every such application.
  std::vector<int> getRunningProcessIdentifiers();
  // The bundle path of the first such application; nothing when none runs.
  std::optional<std::string> getRunningApplicationPath();

  const std::string& bundleIdentifier() const { return bundleIdentifier_; }
  bool hasPerformedSetup() const { return hasPerformedSetup_; }

 private:
  void scheduleRunningCallback();

  Workspace& workspace_;
  RunLoop& loop_;
  std::string bundleIdentifier_;
  std::optional<std::string> bundlePath_;
  bool hasPerformedSetup_ = false;
  std::optional<Workspace::Token> observation_;
  Callback runningCallback_;
  Callback stoppedCallback_;
  std::map<uint64_t, std::unique_ptr<Registration>> pendingRunningCallbacks_;
  uint64_t nextPendingId_ = 1;
};

}  // namespace zelto
