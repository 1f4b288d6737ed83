// AgentAppDelegate: brings the agent up once the main loop runs: logging, then the watchdog.
//
// Owns the one watchdog for the life of the process, with the platform services it works
// through (the workspace of running applications, the file watcher, the clock-change watch),
// all bound to the main loop. Main thread only.
#pragma once

#include <memory>

#include "Agent/App/Watchdog/WatchdogManager.h"
#include "Platform/Application.h"
#include "Platform/FileWatcher.h"
#include "Platform/RunLoop.h"
#include "Platform/Workspace.h"

namespace zelto {

class AgentAppDelegate final : public ApplicationDelegate {
 public:
  // The watchdog goes first: it works through the services below.
  ~AgentAppDelegate() override;

  void applicationDidFinishLaunching() override;
  // Termination does no work of its own.
  void applicationWillTerminate() override {}

  void setup();

  std::unique_ptr<WatchdogManager> watchdogManager;

 private:
  std::unique_ptr<Workspace> workspace_;
  std::unique_ptr<FileWatcher> fileWatcher_;
  std::unique_ptr<Registration> clockChanges_;
};

}  // namespace zelto
