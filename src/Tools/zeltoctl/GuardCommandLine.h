// GuardCommandLine: zeltoctl's guard commands on the command line: `guard status` and `guard
// release` (GuardCommands, through CommandRunner).
//
// Class operations only; the main thread.
#pragma once

#include <CLI/CLI.hpp>

#include "Tools/zeltoctl/CommandRunner.h"

namespace zelto {

class GuardCommandLine {
 public:
  // Adds the commands to `app`; the parse of one sets `chosen` to what is to run.
  static void addTo(CLI::App& app, CommandRunner::Action& chosen);
};

}  // namespace zelto
