// LogLevelCommand: zeltoctl log-level: shows or sets the level each program logs at, the
// "logLevel" user default of the agent's domain and of the main application's (each program
// reads its own at its start; see LoggingManager). Both by default, or one with --agent or
// --app.
//
// Setting is all or nothing: when one program's setting can't be stored, the other's is put
// back. The log can't be switched off while the running period is locked: it is what shows
// the period was kept.
//
// Class operations only; the main thread.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "Platform/UserDefaults.h"
#include "Tools/zeltoctl/CommandRunner.h"

namespace zelto {

class LogLevelCommand {
 public:
  struct Program {
    std::string name;  // "agent", "application"
    UserDefaults* defaults;
  };

  // Adds the command to `app`; its parse sets `chosen` to what is to run.
  static void addTo(CLI::App& app, CommandRunner::Action& chosen);

  // Without `level` prints each program's level ("agent: info"; the bare level when there is
  // one program); with it stores it for each program. Returns the exit status.
  static int run(const std::vector<Program>& programs, const std::string& level);
};

}  // namespace zelto
