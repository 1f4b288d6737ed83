#include "Agent/App/AgentAppDelegate.h"

#include "App/Controller/Zelto.h"
#include "App/Helpers/LoggingManager.h"
#include "Platform/ClockChangeWatcher.h"
#include "Platform/Env.h"
#include "Platform/Linux/InotifyFileWatcher.h"
#include "Platform/Linux/LinuxWorkspace.h"
#include "Platform/Log.h"

namespace zelto {

AgentAppDelegate::~AgentAppDelegate() {
  clockChanges_.reset();
  watchdogManager.reset();
}

void AgentAppDelegate::applicationDidFinishLaunching() { setup(); }

void AgentAppDelegate::setup() {
  LoggingManager::setup();
  log::info("Loading watchdog agent");
  RunLoop& loop = Application::mainRunLoop();
  Zelto::shared().keepLockedPeriods();
  workspace_ = std::make_unique<LinuxWorkspace>(loop);
  fileWatcher_ = std::make_unique<InotifyFileWatcher>(loop);
  watchdogManager =
      std::make_unique<WatchdogManager>(loop, Env::clock(), *workspace_, *fileWatcher_);
  watchdogManager->setup();
  // Each check decides from scratch, so an extra one when the wall clock jumps (set by hand,
  // or the machine waking up) only makes sure a changed time can't hide a period until the
  // next timer tick.
  auto clockChanges = ClockChangeWatcher::watch(loop, [this] { watchdogManager->check(); });
  if (clockChanges.ok()) {
    clockChanges_ = std::move(*clockChanges);
  } else {
    log::warning("Can't watch for clock changes: {}", clockChanges.status().message());
  }
}

}  // namespace zelto
