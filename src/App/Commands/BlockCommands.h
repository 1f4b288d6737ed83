// BlockCommands: zeltoctl's start, stop, break and unbreak commands: they start and end a
// blocking period, and take and end a break from one, through the controller and its record.
//
// Each command is a function of a controller whose running period has been observed
// (BlockState::observe), as CommandSession::edit runs it: it changes the record and saves it, or
// refuses and changes nothing. A period that hardcore mode locks is never ended or shortened
// here; a break within the allowance is always possible.
//
// Start and stop are in BlockCommands.cpp, the breaks in
// BlockBreakCommands.cpp; what they print is BlockReport's.
//
// Class operations only; the main thread.
#pragma once

#include <string>

#include "App/Commands/CommandOutcome.h"
#include "App/Controller/Zelto.h"

namespace zelto {

class BlockCommands {
 public:
  struct StartOptions {
    std::string forText{};    // a duration ("25m"): a timer; exclusive with untilText
    std::string untilText{};  // a moment ("17:30"): a timer ending then
    bool hardcore = false;
    bool mustComplete = false;
  };
  struct BreakOptions {
    std::string forText{};  // empty: the record's break length
  };

  // Starts blocking: by hand (until stopped) or as a timer. While a locked period runs, a start
  // that would unlock it or end it sooner is refused.
  static CommandOutcome start(Zelto& zelto, const StartOptions& options);
  // Ends the running period, unless it is locked.
  static CommandOutcome stop(Zelto& zelto);
  // Takes a break from the running period, within the break allowance.
  static CommandOutcome takeBreak(Zelto& zelto, const BreakOptions& options);
  // Ends the running break; its unused time goes back to the allowance.
  static CommandOutcome unbreak(Zelto& zelto);
};

}  // namespace zelto
