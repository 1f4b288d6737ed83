// WatchdogManager: keeps the main application running while blocking should be on, and starts
// it shortly before a scheduled blocking period begins.
//
// A check runs at set-up, every 75 seconds, whenever the main application is found stopped
// (so at once when it quits), whenever the preferences file changes, and once more 3 seconds
// after a launch was skipped for coming too soon after the previous one. Each check decides
// from scratch: if the main application doesn't run, reload the preferences, and launch when
// blocking should be on now or the next scheduled period starts within 300 seconds.
//
// Every check runs on the main loop (timers, file events and running-application changes all
// arrive there), which serialises the uses of the shared preferences record and controller.
// Ownership: the application delegate owns the one watchdog for the life of the process; the
// watchdog owns its timer, its running-application controller and its file watch. The loop,
// clock, workspace and file watcher are the caller's and outlive it. Main loop thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Agent/App/Watchdog/RunningAppController.h"
#include "App/Controller/Zelto.h"
#include "Platform/Clock.h"
#include "Platform/FileWatcher.h"
#include "Platform/RunLoop.h"
#include "Platform/Workspace.h"

namespace zelto {

class WatchdogManager {
 public:
  static constexpr const char* kMainApplicationIdentifier = "Quarnix.zelto";
  static constexpr int kScheduleLookAheadInterval = 300;
  static constexpr int kCheckInterval = kScheduleLookAheadInterval / 4;  // 75 seconds
  static constexpr double kMinimumLaunchSpacing = 2.0;
  static constexpr double kRecheckDelayAfterSkippedLaunch = 3.0;

  // `zelto` defaults to the shared controller.
  WatchdogManager(RunLoop& loop, Clock& clock, Workspace& workspace, FileWatcher& fileWatcher,
                  Zelto* zelto = nullptr);
  ~WatchdogManager();
  WatchdogManager(const WatchdogManager&) = delete;
  WatchdogManager& operator=(const WatchdogManager&) = delete;

  void setup();
  void setupPreferencesFileMonitor();
  void check();
  void launchZeltoIfNotRunning();
  void launchZelto();

  std::optional<Date> lastLaunchDate;

 private:
  RunLoop& loop_;
  Clock& clock_;
  Workspace& workspace_;
  FileWatcher& fileWatcher_;
  Zelto* zelto_;
  std::unique_ptr<RunningAppController> runningAppController_;
  std::unique_ptr<Registration> checkTimer_;
  std::unique_ptr<Registration> fileMonitor_;
  std::unique_ptr<Registration> recheck_;
};

}  // namespace zelto
