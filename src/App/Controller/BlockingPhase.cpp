#include "App/Controller/BlockingPhase.h"

#include "App/Blocking/Helpers/ZeltoUtils.h"

namespace zelto {

BlockingPhase BlockingPhase::ofRecord(Zelto& zelto) {
  BlockingPhase phase;
  const Date now = zelto.now();
  phase.at = now;
  const ZeltoPreferences* prefs = zelto.prefs();
  phase.mode = ZeltoUtils::getZeltoTypeAsString(prefs ? prefs->zeltoType : 0);
  phase.started = zelto.shouldZelto();
  phase.scheduled = zelto.isScheduleBlockedWithDate(now);
  phase.running = phase.started || phase.scheduled;
  if (!phase.running) {
    const double untilBlock = zelto.getTimeIntervalUntilBlockWithDate(now);
    if (untilBlock >= 0) phase.startsAt = now.addingTimeInterval(untilBlock);
    phase.kind = untilBlock >= 0 && untilBlock <= Zelto::kScheduleLookAheadInterval
                     ? Kind::kImminent
                     : Kind::kOff;
    return phase;
  }

  // The timer's own end, read from the record (the controller's flags may not know of it).
  const bool timerRuns = zelto.isTimer() && prefs && prefs->zeltoUnblockDate &&
                         prefs->zeltoUnblockDate->isGreaterDate(now);
  if (timerRuns) phase.endsAt = prefs->zeltoUnblockDate;
  if (phase.scheduled) {
    if (auto end = zelto.getActiveEndSchedule();
        end && (!phase.endsAt || end->toDate().isGreaterDate(*phase.endsAt))) {
      phase.endsAt = end->toDate();
    }
  }
  if (prefs && prefs->zeltoUnbreakDate && prefs->zeltoUnbreakDate->isGreaterDate(now)) {
    phase.breaking = true;
    phase.breakEndsAt = prefs->zeltoUnbreakDate;
  }
  phase.kind = phase.breaking ? Kind::kBreak : Kind::kEnforcing;
  // As canHardcoreUnzelto answers for a period that runs.
  if (prefs && prefs->zeltoHardcoreMode) {
    if (phase.scheduled) {
      phase.locked = true;
      phase.lockReason = "a scheduled period can't be ended early in hardcore mode";
    }
    phase.mustComplete = timerRuns && prefs->zeltoMustCompleteSession;
    if (phase.mustComplete && !phase.locked) {
      phase.locked = true;
      phase.lockReason = "this session must be completed (hardcore mode)";
    }
  }
  return phase;
}

BlockingPhase BlockingPhase::of(Zelto& zelto) {
  BlockingPhase phase = ofRecord(zelto);
  HeldLock* held = zelto.heldLock();
  if (held == nullptr) return phase;
  if (phase.locked && phase.endsAt) held->hold(phase.at, *phase.endsAt, phase.lockReason);
  std::optional<HeldLock::Period> period = held->inForce(phase.at);
  if (!period || (phase.locked && phase.endsAt && !period->until.isGreaterDate(*phase.endsAt))) {
    return phase;
  }
  // The record no longer shows the locked period seen in force (or shows it ending sooner): it
  // runs on, locked, to its end.
  phase.held = true;
  phase.running = true;
  phase.locked = true;
  if (phase.lockReason.empty()) phase.lockReason = period->reason;
  if (!phase.endsAt || period->until.isGreaterDate(*phase.endsAt)) phase.endsAt = period->until;
  phase.startsAt.reset();
  phase.kind = phase.breaking ? Kind::kBreak : Kind::kEnforcing;
  return phase;
}

const char* BlockingPhase::kindName(Kind kind) {
  switch (kind) {
    case Kind::kOff:
      return "off";
    case Kind::kImminent:
      return "imminent";
    case Kind::kBreak:
      return "break";
    case Kind::kEnforcing:
      return "blocking";
  }
  return "off";
}

}  // namespace zelto
