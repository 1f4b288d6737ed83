// GuardCommands: zeltoctl's side of the system guard: `guard status` (what the guard enforces for
// this user), `guard release` (root ends a user's lock), and handing a locked timer to the guard
// when `start --hardcore --must-complete` starts one.
//
// The guard is optional: where none runs, a locked timer holds for this session only, and
// zeltoctl says so once (the first time; the agent's settings remember it), with how to install
// the guard.
//
// Class operations only; the main thread.
#pragma once

#include <optional>
#include <string>

#include "App/Commands/CommandOutcome.h"
#include "App/Controller/Zelto.h"

namespace zelto {

class GuardCommands {
 public:
  // Hands the default profile's lock, ending at `end`, to the guard. Adds what came of it to
  // `outcome`: "guard" in the report ("locked", "refused" or "absent") and a line of text.
  static void handOver(Zelto& zelto, Date end, CommandOutcome& outcome);

  static CommandOutcome status(Zelto& zelto);
  // `user`: a name or a user ID; empty: the user who ran sudo.
  static CommandOutcome release(const std::string& user);
};

}  // namespace zelto
