// LockRefusal: zeltoctl's answer to a change the change policy (ChangePolicy) refuses because
// the running period is locked (hardcore mode won't let it end early): exit 1, naming the change,
// the reason and when the period ends.
//
// Class operations only; the thread that owns the controller.
#pragma once

#include <string>

#include "App/Commands/BlockState.h"
#include "App/Commands/CommandOutcome.h"
#include "App/Controller/Zelto.h"

namespace zelto {

class LockRefusal {
 public:
  // "<what> is refused while blocking is locked: <reason>; it ends <when>."
  static std::string message(Zelto& zelto, const BlockState& state, const std::string& what);
  // That message, with "endsAt" and "lockReason" in the report. `what` starts with a capital
  // ("Removing \"a.com\" ...").
  static CommandOutcome refuse(Zelto& zelto, const BlockState& state, const std::string& what);
};

}  // namespace zelto
