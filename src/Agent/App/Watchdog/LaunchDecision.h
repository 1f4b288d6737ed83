// LaunchDecision: the watchdog's one rule for starting a main application that isn't running,
// read off the blocking phase (BlockingPhase), so that it always agrees with what the
// application enforces and zeltoctl reports. Launch when a block started by hand should be on
// now (`shouldZelto`), when a scheduled period is in force, when a locked period kept from an
// earlier sight runs on (BlockingPhase::held), or when the next one starts within
// the schedule look-ahead (300 seconds, inclusive); otherwise wait.
//
// Whether the main application runs is not part of the rule; the caller asks that first.
//
// Threads: the controller's thread.
#pragma once

#include <optional>

#include "App/Controller/BlockingPhase.h"
#include "App/Controller/Zelto.h"

namespace zelto {

struct LaunchDecision {
  enum class Reason {
    kBlockingOn,        // a block started by hand should be on now: launch
    kScheduleInForce,   // a scheduled period is under way: launch
    kLockedPeriodKept,  // a locked period seen earlier runs on to its end: launch
    kScheduleSoon,      // the next scheduled period starts within the look-ahead: launch
    kNoSchedule,        // no scheduled period ahead: wait
    kScheduleTooFar,    // the next scheduled period starts later: wait
  };

  bool launch = false;
  Reason reason = Reason::kNoSchedule;
  // Seconds until the next scheduled period starts; -1 when there is none or blocking is on.
  double untilBlock = -1;

  static LaunchDecision decide(Zelto& zelto);
  // The rule's first case alone, read without the schedule: the decision when a block started
  // by hand should be on now (`decide` at the same moment answers the same), else nothing.
  static std::optional<LaunchDecision> byHand(Zelto& zelto);
  static LaunchDecision from(const BlockingPhase& phase);

 private:
  // The first case, on whether a block started by hand should be on.
  static std::optional<LaunchDecision> whenStarted(bool started);
};

}  // namespace zelto
