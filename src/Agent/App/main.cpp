// The watchdog agent: a background program that keeps the main application running while
// blocking should be on. It takes no options; it runs until SIGTERM or SIGINT.
#include <cstdio>
#include <cstring>

#include "Agent/App/AgentAppDelegate.h"
#include "App/Helpers/LoggingManager.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf(
          "Usage: Agent\n\n"
          "The Zelto watchdog agent. It runs in the background, beside the Zelto application,\n"
          "and starts the application again whenever blocking should be on or a scheduled\n"
          "blocking period starts within five minutes. It takes no options and runs until it\n"
          "receives SIGTERM or SIGINT.\n\n"
          "Log level: the \"logLevel\" user default (off, error, warning, info, debug, all),\n"
          "set with zeltoctl.\n");
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Agent %s\n", ZELTO_VERSION);
      return 0;
    }
  }
  int status = 0;
  {
    // Everything the delegate started (watches, their threads) ends before logging does: a line
    // logged while the loggers are being dropped would race with the drop.
    zelto::AgentAppDelegate delegate;
    status = zelto::Application::main(argc, argv, delegate);
  }
  zelto::LoggingManager::shutdown();
  return status;
}
