#include "Agent/App/Watchdog/WatchdogManager.h"

#include "Agent/App/Watchdog/LaunchDecision.h"
#include "App/Data/ZeltoDefaults.h"
#include "App/Helpers/NUIFileMonitor.h"
#include "Platform/Check.h"
#include "Platform/Log.h"
#include "Platform/UserDefaults.h"

namespace zelto {

WatchdogManager::WatchdogManager(RunLoop& loop, Clock& clock, Workspace& workspace,
                                 FileWatcher& fileWatcher, Zelto* zelto)
    : loop_(loop), clock_(clock), workspace_(workspace), fileWatcher_(fileWatcher), zelto_(zelto) {}

WatchdogManager::~WatchdogManager() {
  checkTimer_.reset();
  stoppedTimer_.reset();
  rechecks_.clear();
  fileMonitor_.reset();
}

void WatchdogManager::setup() {
  log::info("Setting up WatchdogManager");
  UserDefaults::standard().addSuiteNamed(kMainApplicationIdentifier);
  setupPreferencesFileMonitor();
  if (zelto_ == nullptr) zelto_ = &Zelto::shared();
  // The application of our own bundle; when the agent sits outside one there is nothing it
  // could launch, and any application with the identifier counts.
  runningAppController_ = std::make_unique<RunningAppController>(
      workspace_, loop_, kMainApplicationIdentifier, ZeltoDefaults::getZeltoApplicationPath());
  // The controller calls back right after finding the application not running: asking the
  // workspace again within the same call would only repeat the answer.
  runningAppController_->waitForStoppedApplication([this] { checkWith(Running::kFoundStopped); });
  checkTimer_ = loop_.addTimer(kCheckInterval, kCheckInterval, [this] {
    workspace_.refreshRunningApplications();
    check();
  });
  stoppedTimer_ = loop_.addTimer(kStoppedCheckInterval, kStoppedCheckInterval,
                                 [this] { resumeStoppedApplication(); });
  check();
}

void WatchdogManager::resumeStoppedApplication() {
  if (!runningAppController_) return;
  for (int pid : runningAppController_->getRunningProcessIdentifiers()) {
    if (workspace_.resumeIfStopped(pid))
      log::warning("Zelto (pid {}) was stopped; continued it", pid);
  }
}

void WatchdogManager::setupPreferencesFileMonitor() {
  auto path = ZeltoPreferences::standardConfigurationPath();
  log::info("Setting up preferences monitor on {}", path.value_or("(null)"));
  if (!path) return;  // no configuration directory: the periodic check still runs
  fileMonitor_ = NUIFileMonitor::watch(fileWatcher_, *path, [this] {
    log::debug("Detected preferences changed");
    // Read at the next check even if the file's status looks the same (a rewrite in place
    // within one clock tick keeps size and time).
    (zelto_ ? *zelto_ : Zelto::shared()).preferencesFileChanged();
    check();
  });
}

void WatchdogManager::check() { checkWith(Running::kUnknown); }

void WatchdogManager::checkWith(Running running) {
  ZELTO_CHECK(loop_.isLoopThread(), "watchdog checks run on the main loop");
  // A check that follows the application's end says so once its launch is under way.
  const bool checkingSaid = running == Running::kUnknown;
  if (checkingSaid) log::info("Checking if Zelto needs launching");
  if (running == Running::kUnknown && runningAppController_ &&
      runningAppController_->getIsRunning()) {
    log::debug("Zelto is already running");
    if (lastLaunchDate && clock_.now().timeIntervalSinceDate(*lastLaunchDate) >= kQuickEndSeconds) {
      quickEnds_ = 0;
    }
    return;
  }
  if (lastLaunchDate && clock_.now().timeIntervalSinceDate(*lastLaunchDate) < kQuickEndSeconds &&
      ++quickEnds_ == kQuickEndsWarned) {
    log::warning(
        "Zelto ended within {:g} s of each of its last {} launches: something keeps it from "
        "running (see its own log)",
        kQuickEndSeconds, kQuickEndsWarned);
  }
  Zelto& zelto = zelto_ ? *zelto_ : Zelto::shared();
  // What the main application last saved; a record that failed to load gets one more attempt.
  zelto.refreshPrefs();
  if (auto byHand = LaunchDecision::byHand(zelto); byHand && byHand->launch) {
    // The rule's first case decides alone: the launch goes first, and what the check says follows
    // it, in the same order.
    std::optional<std::string> launched = launchIfNotRunning(running);
    if (!checkingSaid) log::info("Checking if Zelto needs launching");
    log::info("Detected that Zelto should be enabled");
    if (launched) log::info("Launching Zelto at {}", *launched);
    // The rest of the rule is read all the same: reading it remembers a locked period in force
    // (and keeps the schedule current) for the checks to come.
    LaunchDecision::decide(zelto);
    return;
  }
  if (!checkingSaid) log::info("Checking if Zelto needs launching");
  const LaunchDecision decision = LaunchDecision::decide(zelto);
  switch (decision.reason) {
    case LaunchDecision::Reason::kBlockingOn:
      log::info("Detected that Zelto should be enabled");
      break;
    case LaunchDecision::Reason::kScheduleInForce:
      log::info("Launching Zelto ....a scheduled period is under way");
      break;
    case LaunchDecision::Reason::kLockedPeriodKept:
      log::info("Launching Zelto ....a locked period runs until its end");
      break;
    case LaunchDecision::Reason::kScheduleSoon:
      log::info("Launching Zelto ....next schedule happening soon {:f}s", decision.untilBlock);
      break;
    case LaunchDecision::Reason::kNoSchedule:
      log::debug("Zelto doesn't need launching");
      break;
    case LaunchDecision::Reason::kScheduleTooFar:
      log::debug("Next schedule is in {:f}s ...too far out in the future to do anything about",
                 decision.untilBlock);
      break;
  }
  if (!decision.launch) return;
  if (auto launched = launchIfNotRunning(running)) log::info("Launching Zelto at {}", *launched);
}

void WatchdogManager::launchZeltoIfNotRunning() {
  if (auto launched = launchIfNotRunning(Running::kUnknown)) {
    log::info("Launching Zelto at {}", *launched);
  }
}

std::optional<std::string> WatchdogManager::launchIfNotRunning(Running running) {
  log::debug("Launching Zelto if necessary");
  // A check that began with the controller's report of the end asks no more: nothing has run on
  // the loop since that could have started the application.
  if (running == Running::kUnknown && runningAppController_ &&
      runningAppController_->getIsRunning()) {
    return std::nullopt;
  }
  log::debug("Running app controller indicated Zelto is not running");
  return startLaunch();
}

void WatchdogManager::launchZelto() {
  if (auto launched = startLaunch()) log::info("Launching Zelto at {}", *launched);
}

std::optional<std::string> WatchdogManager::startLaunch() {
  const Date now = clock_.now();
  if (lastLaunchDate) {
    double since = now.timeIntervalSinceDate(*lastLaunchDate);
    if (since < kMinimumLaunchSpacing) {
      log::debug("Skipping launch ...last launched {:f} ago", since);
      // Each skip gets its own re-check on the main loop; a later skip never delays an earlier
      // one's.
      auto recheck = rechecks_.emplace(rechecks_.end());
      *recheck = loop_.addTimer(kRecheckDelayAfterSkippedLaunch, 0, [this, recheck] {
        std::unique_ptr<Registration> done = std::move(*recheck);  // ends with this call
        rechecks_.erase(recheck);
        check();
      });
      return std::nullopt;
    }
  }
  auto path = ZeltoDefaults::getZeltoApplicationPath();
  // The outcome is not consulted: a failure is logged, and the next check tries again if a
  // launch is still needed.
  if (path) workspace_.launchApplication(*path).ignoreError();
  lastLaunchDate = now;
  return path.value_or("(null)");
}

}  // namespace zelto
