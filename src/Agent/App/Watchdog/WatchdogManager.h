// WatchdogManager: keeps the main application running while blocking should be on, and starts
// it shortly before a scheduled blocking period begins.
//
// A check runs at set-up, every 75 seconds (the 300-second schedule look-ahead divided by 4, so
// four timer checks fall inside the look-ahead before a period starts), whenever the main
// application is found stopped (so at once when it quits), whenever the preferences file
// changes, and once more 3 seconds after each launch skipped for coming within 2 seconds of the
// previous one. Each check decides from scratch: if the main application doesn't run, reload the
// preferences and apply the launch rule (LaunchDecision).
//
// A relaunch costs little between the end and the successor: the list of running applications
// is read once (a check that follows a reported end takes the controller's answer), and when a
// block started by hand decides, the launch goes first; the check's lines and the rest of the
// rule (the schedule, a locked period to remember) follow it.
//
// A stopped main application (SIGSTOP) enforces nothing: every second the watchdog continues it
// when it finds it stopped, and says so.
//
// Only the main application of the bundle the agent lives in counts as running: a process of
// another bundle claiming the same identifier can't hold off a launch. The workspace watches for
// starts of that application from set-up on, and reports its end at once; a start it could not
// watch is found by the timer's check, which has the workspace read its whole list first.
//
// Every check runs on the main loop (timers, file events and running-application changes all
// arrive there), which serialises the uses of the shared preferences record and controller;
// `check` verifies that it runs there.
// Ownership: the application delegate owns the one watchdog for the life of the process; the
// watchdog owns its timers, its running-application controller and its file watch. The loop,
// clock, workspace and file watcher are the caller's and outlive it. Main loop thread only.
#pragma once

#include <list>
#include <memory>
#include <optional>
#include <string>

#include "Agent/App/Watchdog/RunningAppController.h"
#include "App/Controller/Zelto.h"
#include "App/Data/BundleIdentifiers.h"
#include "Platform/Clock.h"
#include "Platform/FileWatcher.h"
#include "Platform/RunLoop.h"
#include "Platform/Workspace.h"

namespace zelto {

class WatchdogManager {
 public:
  static constexpr const char* kMainApplicationIdentifier = BundleIdentifiers::kMain;
  static constexpr int kCheckInterval = Zelto::kScheduleLookAheadInterval / 4;  // 75 seconds
  static constexpr double kMinimumLaunchSpacing = 2.0;
  static constexpr double kRecheckDelayAfterSkippedLaunch = 3.0;
  static constexpr double kStoppedCheckInterval = 1.0;
  // Launches whose application is gone again within kQuickEndSeconds, this many in a row, are
  // worth a warning: something keeps it from running.
  static constexpr double kQuickEndSeconds = 5.0;
  static constexpr int kQuickEndsWarned = 3;

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
  // Continues the main application when it is stopped.
  void resumeStoppedApplication();

  std::optional<Date> lastLaunchDate;

 private:
  // What the caller of a check already knows of the main application.
  enum class Running { kUnknown, kFoundStopped };
  void checkWith(Running running);
  // `launchZeltoIfNotRunning`, knowing what the check knows; the bundle path launched, for the
  // caller to log once the launch is under way.
  std::optional<std::string> launchIfNotRunning(Running running);
  // Launches the main application unless the last launch was too recent (then checks again
  // later); the bundle path launched, for the caller to log once the launch is under way.
  std::optional<std::string> startLaunch();

  RunLoop& loop_;
  Clock& clock_;
  Workspace& workspace_;
  FileWatcher& fileWatcher_;
  Zelto* zelto_;
  std::unique_ptr<RunningAppController> runningAppController_;
  std::unique_ptr<Registration> checkTimer_;
  std::unique_ptr<Registration> stoppedTimer_;  // continues a stopped main application
  int quickEnds_ = 0;  // launches in a row whose application was gone again at once
  std::unique_ptr<Registration> fileMonitor_;
  // One re-check per skipped launch, each 3 seconds after its skip; dropped once it has run.
  std::list<std::unique_ptr<Registration>> rechecks_;
};

}  // namespace zelto
