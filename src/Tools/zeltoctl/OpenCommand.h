// OpenCommand: zeltoctl open: opens the settings page in the browser, signed in.
//
// It mints a one-time token (PageTokens) in the application's runtime folder, makes sure the
// application runs (when its page doesn't answer, the bundle's Zelto beside zeltoctl is started
// detached, in a session of its own; a copy already running makes the new one exit at once),
// waits until the page answers at the configuration's "httpPort" (at most kWaitSeconds), and
// opens http://localhost:PORT/session?token=T with xdg-open, or prints it (--print-url, and
// whenever xdg-open fails). The page trades the token for its session cookie; the token is good
// once, within two minutes.
//
// Exit statuses: 0 opened (or printed), 1 anything that failed, its reason on standard error.
//
// Class operations only; the main thread.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "Tools/zeltoctl/CommandRunner.h"

namespace zelto {

class OpenCommand {
 public:
  static constexpr double kWaitSeconds = 5;
  static constexpr double kPollSeconds = 0.1;

  struct Options {
    bool printUrl = false;
  };

  // Adds the command to `app`; its parse sets `chosen` to what is to run.
  static void addTo(CLI::App& app, CommandRunner::Action& chosen);
  static int run(const Options& options);

  // Whether an HTTP server answers a request for "/" at 127.0.0.1:`port` within
  // `timeoutSeconds`.
  static bool pageAnswers(int port, double timeoutSeconds);
};

}  // namespace zelto
