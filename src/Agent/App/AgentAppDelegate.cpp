#include "Agent/App/AgentAppDelegate.h"

#include "Agent/App/LoggingManager.h"
#include "Platform/Log.h"

namespace zelto {

void AgentAppDelegate::applicationDidFinishLaunching() { setup(); }

void AgentAppDelegate::setup() {
  LoggingManager::setup();
  log::info("Loading watchdog agent");
}

}  // namespace zelto
