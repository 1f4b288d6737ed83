// AppCommandLine: zeltoctl's apps commands on the command line: their options, help and what each
// runs (AppCommands, through CommandRunner).
//
// Class operations only; the main thread.
#pragma once

#include <CLI/CLI.hpp>

#include "Tools/zeltoctl/CommandRunner.h"

namespace zelto {

class AppCommandLine {
 public:
  // Adds the commands to `app`; the parse of one sets `chosen` to what is to run.
  static void addTo(CLI::App& app, CommandRunner::Action& chosen);
};

}  // namespace zelto
