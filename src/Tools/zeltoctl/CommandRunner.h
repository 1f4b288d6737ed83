// CommandRunner: runs one zeltoctl command through the core's CommandSession (the configuration
// the agent loads, at the system clock's now, the lock) and prints what it came to.
//
// Class operations only; the main thread.
#pragma once

#include <functional>

#include "App/Commands/CommandOutcome.h"
#include "App/Commands/CommandSession.h"

namespace zelto {

class CommandRunner {
 public:
  using Command = CommandSession::Command;
  // What a subcommand's parse chose to run; returns the exit status.
  using Action = std::function<int()>;

  // CommandSession::edit, printed; returns the exit status.
  static int edit(bool asJson, const Command& command);
  // CommandSession::read, printed.
  static int read(bool asJson, const Command& command);

  // Prints `outcome` (with `asJson` its report as one line of JSON, on standard output when
  // done and standard error otherwise) and returns its exit status.
  static int print(const CommandOutcome& outcome, bool asJson);
};

}  // namespace zelto
