// CommandSession: runs one command (SiteCommands, BlockCommands, ...) on the configuration the
// agent loads, at the system clock's now, the way every front end runs them: zeltoctl prints
// what it came to, the application's settings page answers with it.
//
// Commands are functions of a controller (tests run them on one of their own); this is where a
// front end gets a fresh one, with the locked periods kept from earlier sights, the running
// period observed (BlockState) and, for an edit, the configuration lock. A program that does
// one thing (zeltoctl) keeps the log lines of the work back (QuietLog) and shows them only when
// the configuration can't be loaded; a program with other threads that log (the application)
// logs them as usual: the default logger can't be swapped under a thread that writes to it.
//
// Class operations only; the thread that owns the controllers (the main thread, the loop's).
#pragma once

#include <functional>

#include "App/Commands/CommandOutcome.h"
#include "App/Controller/Zelto.h"

namespace zelto {

class CommandSession {
 public:
  using Command = std::function<CommandOutcome(Zelto&)>;
  enum class Log { kKeepBack, kAsUsual };

  // A read-modify-write: `command` runs inside the controller's `edit` (the configuration
  // locked and read afresh; the saves it makes reach the file before the lock is let go). Exit
  // 1, nothing changed, when the configuration can't be loaded, read or locked, or has no
  // default profile.
  static CommandOutcome edit(const Command& command, Log log = Log::kKeepBack);
  // The same for a command that only reads: no lock.
  static CommandOutcome read(const Command& command, Log log = Log::kKeepBack);
  // A question about one moment (the status, the schedule ahead, check-url): `look` runs on a
  // controller made afresh that answers as if it were `now`, with the locked periods kept from
  // earlier sights when `keepLocked` (a look at another moment is about the record alone). No
  // lock, no profile check, the running period not observed. Fails when the configuration
  // can't be loaded: the message is the log lines kept back, or says that the log has them.
  static Status look(Date now, bool keepLocked, const std::function<void(Zelto&)>& look,
                     Log log = Log::kKeepBack);
};

}  // namespace zelto
