// BlockingPhase: whether blocking is on now, and how: the one answer the agent (launch or
// wait), the application (what it enforces) and zeltoctl (what it reports and refuses) all
// give, so that they can't disagree.
//
// Computed from the record and the controller's clock, at one moment: a block started by hand
// (normal, or a timer not yet ended) or a scheduled period in force makes it run; while it runs,
// a break not yet ended makes it a break, otherwise it enforces. It is locked when hardcore
// mode won't let it end early: a scheduled period in force, or a timer that must be completed.
// Not running, the next scheduled period makes it imminent when it starts within the schedule
// look-ahead. Nothing in the controller changes but its cache of the generated schedule and the
// locked period it keeps; in particular `isZeltoing` is left to the caller.
//
// A plain value. Threads: the thread that owns the controller.
#pragma once

#include <optional>
#include <string>

#include "App/Controller/Zelto.h"
#include "Platform/Date.h"

namespace zelto {

struct BlockingPhase {
  enum class Kind {
    kOff,        // nothing runs, and no scheduled period starts within the look-ahead
    kImminent,   // a scheduled period starts within the look-ahead
    kBreak,      // a period runs, on a break
    kEnforcing,  // a period runs and blocks
  };

  Kind kind = Kind::kOff;
  Date at;                 // the moment it is the phase of
  std::string mode;        // "normal", "timer", "schedule" or "unknown"
  bool running = false;    // kBreak or kEnforcing
  bool breaking = false;   // kBreak
  bool started = false;    // a block started by hand runs (the controller's shouldZelto)
  bool scheduled = false;  // a scheduled period is in force
  bool locked = false;     // running, and hardcore mode won't let it end early
  // A hardcore timer that must be completed runs: it can't be shortened, by breaks either.
  bool mustComplete = false;
  std::string lockReason;  // why, when locked
  // When the running period ends: the timer's end or the end of the scheduled run in force,
  // whichever is later; nothing when it runs until stopped (or nothing runs).
  std::optional<Date> endsAt;
  std::optional<Date> breakEndsAt;
  // When the next scheduled period starts, when nothing runs and one is ahead.
  std::optional<Date> startsAt;

  // A locked period seen in force earlier and kept (HeldLock) runs on though the record no
  // longer shows it so (edited, replaced, read in another zone): it is locked and enforcing
  // (or on the record's own break) until its end.
  bool held = false;

  // At the controller's now: the record's phase, with the locked period the controller keeps
  // (when it keeps one) remembered when the record shows one in force, and applied.
  static BlockingPhase of(Zelto& zelto);
  // The record's phase alone.
  static BlockingPhase ofRecord(Zelto& zelto);

  // "off", "imminent", "break", "blocking".
  static const char* kindName(Kind kind);
};

}  // namespace zelto
