// CommandRunner: runs one zeltoctl command on the configuration the agent loads, at the system
// clock's now, and prints what it came to.
//
// Commands are functions of a controller (tests run them on one of their own); this is where
// the program gives them the real one, the lock, and the terminal. Log lines of the work are
// kept back and shown only when the configuration can't be loaded or locked.
//
// Class operations only; the main thread.
#pragma once

#include <functional>

#include "App/Controller/Zelto.h"
#include "Tools/zeltoctl/CommandOutcome.h"

namespace zelto {

class CommandRunner {
 public:
  using Command = std::function<CommandOutcome(Zelto&)>;
  // What a subcommand's parse chose to run; returns the exit status.
  using Action = std::function<int()>;

  // A read-modify-write: `command` runs inside the controller's `edit` (the configuration
  // locked and read afresh; the saves it makes reach the file before the lock is let go), with
  // the running period observed (BlockState). Exit 1, nothing changed, when the configuration
  // can't be loaded, read or locked.
  static int edit(bool asJson, const Command& command);
  // The same for a command that only reads: no lock.
  static int read(bool asJson, const Command& command);

  // Prints `outcome` (with `asJson` its report as one line of JSON, on standard output when
  // done and standard error otherwise) and returns its exit status.
  static int print(const CommandOutcome& outcome, bool asJson);
};

}  // namespace zelto
