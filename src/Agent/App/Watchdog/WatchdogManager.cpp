#include "Agent/App/Watchdog/WatchdogManager.h"

#include <cassert>

#include "Agent/App/Watchdog/NUIFileMonitor.h"
#include "App/Data/ZeltoDefaults.h"
#include "Platform/Log.h"
#include "Platform/UserDefaults.h"

namespace zelto {

WatchdogManager::WatchdogManager(RunLoop& loop, Clock& clock, Workspace& workspace,
                                 FileWatcher& fileWatcher, Zelto* zelto)
    : loop_(loop), clock_(clock), workspace_(workspace), fileWatcher_(fileWatcher), zelto_(zelto) {}

WatchdogManager::~WatchdogManager() {
  checkTimer_.reset();
  recheck_.reset();
  fileMonitor_.reset();
}

void WatchdogManager::setup() {
  log::info("Setting up WatchdogManager");
  UserDefaults::standard().addSuiteNamed(kMainApplicationIdentifier);
  setupPreferencesFileMonitor();
  if (zelto_ == nullptr) zelto_ = &Zelto::shared();
  runningAppController_ =
      std::make_unique<RunningAppController>(workspace_, loop_, kMainApplicationIdentifier);
  runningAppController_->waitForStoppedApplication([this] { check(); });
  checkTimer_ = loop_.addTimer(kCheckInterval, kCheckInterval, [this] { check(); });
  check();
}

void WatchdogManager::setupPreferencesFileMonitor() {
  auto path = ZeltoPreferences::standardConfigurationPath();
  log::info("Setting up preferences monitor on {}", path.value_or("(null)"));
  if (!path) return;  // no configuration directory: the periodic check still runs
  fileMonitor_ = NUIFileMonitor::watch(fileWatcher_, *path, [this] {
    log::debug("Detected preferences changed");
    check();
  });
}

void WatchdogManager::check() {
  assert(loop_.isLoopThread() && "checks run on the main loop");
  log::info("Checking if Zelto needs launching");
  if (runningAppController_ && runningAppController_->getIsRunning()) {
    log::debug("Zelto is already running");
    return;
  }
  Zelto& zelto = zelto_ ? *zelto_ : Zelto::shared();
  // A record that failed to load is asked for again here, so a good file is picked up at once.
  if (ZeltoPreferences* prefs = zelto.prefs()) prefs->discardUnsavedChanges();
  if (zelto.shouldZelto()) {
    log::info("Detected that Zelto should be enabled");
    launchZeltoIfNotRunning();
    return;
  }
  zelto.updateSchedule();
  double untilBlock = zelto.getTimeIntervalUntilBlock();
  if (untilBlock == -1) {
    log::debug("Zelto doesn't need launching");
  } else if (untilBlock <= kScheduleLookAheadInterval) {
    log::info("Launching Zelto ....next schedule happening soon {:f}s", untilBlock);
    launchZeltoIfNotRunning();
  } else {
    log::debug("Next schedule is in {:f}s ...too far out in the future to do anything about",
               untilBlock);
  }
}

void WatchdogManager::launchZeltoIfNotRunning() {
  log::debug("Launching Zelto if necessary");
  if (runningAppController_ && runningAppController_->getIsRunning()) return;
  log::debug("Running app controller indicated Zelto is not running");
  launchZelto();
}

void WatchdogManager::launchZelto() {
  const Date now = clock_.now();
  if (lastLaunchDate) {
    double since = now.timeIntervalSinceDate(*lastLaunchDate);
    if (since < kMinimumLaunchSpacing) {
      log::debug("Skipping launch ...last launched {:f} ago", since);
      // One re-check on the main loop; a newer skip replaces a pending one.
      recheck_ = loop_.addTimer(kRecheckDelayAfterSkippedLaunch, 0, [this] { check(); });
      return;
    }
  }
  auto path = ZeltoDefaults::getZeltoApplicationPath();
  log::info("Launching Zelto at {}", path.value_or("(null)"));
  if (path) workspace_.launchApplication(*path);
  lastLaunchDate = now;
}

}  // namespace zelto
