// AgentAppDelegate: brings the agent up once the main loop runs.
//
// `setup` configures logging and announces the agent. The delegate lives for the whole process
// (main owns it). Thread safety: main thread only.
#pragma once

#include "Platform/Application.h"

namespace zelto {

class AgentAppDelegate final : public ApplicationDelegate {
 public:
  void applicationDidFinishLaunching() override;
  // Termination does no work of its own.
  void applicationWillTerminate() override {}

  void setup();
};

}  // namespace zelto
