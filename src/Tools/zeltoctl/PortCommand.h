// PortCommand: zeltoctl ports: shows the two ports of the main application, or sets them, each
// where it is kept (ApplicationPorts): the block page's as "httpPort" in the configuration, the
// proxy's as the user default "ProxyPort" of the application's domain.
//
// A port is a whole number from 1 to 65535, and the two must differ; a bad value is a usage
// error naming it, and nothing changes. While the running period is locked no port changes:
// a browser set up for the old ports (the proxy auto-configuration address, or the proxy by
// hand) would find nothing there and go straight to the sites. Setting is all or nothing: when
// the configuration can't be saved, the proxy's port is put back.
//
// REQUIRES: the controller has a record (CommandRunner makes sure). Class operations only; the
// thread that owns the controller (the main thread).
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "App/Commands/CommandOutcome.h"
#include "App/Controller/Zelto.h"
#include "Platform/UserDefaults.h"
#include "Tools/zeltoctl/CommandRunner.h"

namespace zelto {

class PortCommand {
 public:
  struct Options {
    std::optional<std::string> http;   // the block page's port as given; nothing: unchanged
    std::optional<std::string> proxy;  // the proxy's
    bool changes() const { return http || proxy; }
  };
  // The application's settings and the file they are kept in.
  struct ApplicationSettings {
    UserDefaults& defaults;
    std::string file;
  };

  // Adds the command to `app`; its parse sets `chosen` to what is to run.
  static void addTo(CLI::App& app, CommandRunner::Action& chosen);

  // Both ports, each with where it is kept; with ports given, sets them first.
  static CommandOutcome run(Zelto& zelto, ApplicationSettings settings, const Options& options);
};

}  // namespace zelto
