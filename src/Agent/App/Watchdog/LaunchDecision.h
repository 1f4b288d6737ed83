// LaunchDecision: the watchdog's one rule for starting a main application that isn't running.
// Launch when blocking should be on now (`shouldZelto`), or when the next scheduled period
// starts within the schedule look-ahead (300 seconds, inclusive); otherwise wait.
//
// `decide` asks the controller afresh: when blocking is not already on, it reads the controller's
// "now" once, rebuilds the controller's generated schedule for that moment and asks it about
// that same moment, so the schedule is built once per decision. Whether the main application runs
// is not part of the rule; the caller asks that first. The watchdog acts on the answer, and
// zeltoctl shows it, so both always agree.
//
// Threads: the controller's thread.
#pragma once

#include "App/Controller/Zelto.h"

namespace zelto {

struct LaunchDecision {
  enum class Reason {
    kBlockingOn,      // blocking should be on now: launch
    kScheduleSoon,    // the next scheduled period starts within the look-ahead: launch
    kNoSchedule,      // no scheduled period ahead: wait
    kScheduleTooFar,  // the next scheduled period starts later: wait
  };

  bool launch = false;
  Reason reason = Reason::kNoSchedule;
  // Seconds until the next scheduled period starts; -1 when there is none or blocking is on.
  double untilBlock = -1;

  static LaunchDecision decide(Zelto& zelto);
};

}  // namespace zelto
