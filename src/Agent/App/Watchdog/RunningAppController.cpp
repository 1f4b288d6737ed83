#include "Agent/App/Watchdog/RunningAppController.h"

namespace zelto {

namespace {

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

RunningAppController::RunningAppController(Workspace& workspace, RunLoop& loop,
                                           std::string bundleIdentifier,
                                           std::optional<std::string> bundlePath)
    : workspace_(workspace), loop_(loop), bundleIdentifier_(std::move(bundleIdentifier)) {
  if (bundlePath) bundlePath_ = withoutTrailingSlashes(*bundlePath);
}

RunningAppController::~RunningAppController() {
  // Never registered (destroyed before its first check) is fine: there is nothing to remove.
  if (observation_) workspace_.removeRunningApplicationsObserver(*observation_);
  // Destroying the timers cancels every running callback still pending.
  pendingRunningCallbacks_.clear();
}

void RunningAppController::setup() {
  hasPerformedSetup_ = true;
  // Observing twice would run every check twice per change and leave one registration behind
  // at destruction.
  if (observation_) return;
  if (bundlePath_) workspace_.watchForStarts(*bundlePath_);
  observation_ = workspace_.addRunningApplicationsObserver([this] { check(); });
}

void RunningAppController::check() {
  if (!hasPerformedSetup_) setup();
  if (runningCallback_ && getIsRunning()) {
    scheduleRunningCallback();
    return;
  }
  if (stoppedCallback_ && !getIsRunning()) {
    Callback stopped = stoppedCallback_;  // the callback may replace itself while it runs
    stopped();
  }
}

void RunningAppController::scheduleRunningCallback() {
  uint64_t id = nextPendingId_++;
  pendingRunningCallbacks_[id] = loop_.addTimer(kRunningCallbackDelaySeconds, 0, [this, id] {
    // The callback current when the timer fires, not when it was scheduled; it may have
    // been cleared since.
    Callback running = runningCallback_;
    pendingRunningCallbacks_.erase(id);  // nothing captured is used after this
    if (running) running();
  });
}

void RunningAppController::waitForRunningApplication(Callback block) {
  runningCallback_ = std::move(block);
  check();
}

void RunningAppController::waitForStoppedApplication(Callback block) {
  stoppedCallback_ = std::move(block);
  check();
}

bool RunningAppController::getIsRunning() { return getRunningApplicationPath().has_value(); }

std::vector<int> RunningAppController::getRunningProcessIdentifiers() {
  std::vector<int> found;
  for (const auto& application :
       workspace_.runningApplicationsWithBundleIdentifier(bundleIdentifier_)) {
    if (application.isTerminated) continue;
    if (bundlePath_ && withoutTrailingSlashes(application.bundlePath) != *bundlePath_) continue;
    found.push_back(application.processIdentifier);
  }
  return found;
}

std::optional<std::string> RunningAppController::getRunningApplicationPath() {
  for (const auto& application :
       workspace_.runningApplicationsWithBundleIdentifier(bundleIdentifier_)) {
    if (application.isTerminated) continue;
    if (bundlePath_ && withoutTrailingSlashes(application.bundlePath) != *bundlePath_) continue;
    return application.bundlePath;
  }
  return std::nullopt;
}

}  // namespace zelto
