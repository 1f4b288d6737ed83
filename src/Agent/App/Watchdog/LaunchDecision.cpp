#include "Agent/App/Watchdog/LaunchDecision.h"

namespace zelto {

LaunchDecision LaunchDecision::decide(Zelto& zelto) { return from(BlockingPhase::of(zelto)); }

bool LaunchDecision::blockingOn(Zelto& zelto) { return zelto.shouldZelto(); }

LaunchDecision LaunchDecision::from(const BlockingPhase& phase) {
  if (phase.started) return {true, Reason::kBlockingOn, -1};
  if (phase.scheduled) return {true, Reason::kScheduleInForce, -1};
  if (phase.held) return {true, Reason::kLockedPeriodKept, -1};
  if (!phase.startsAt) return {false, Reason::kNoSchedule, -1};
  const double untilBlock = phase.startsAt->timeIntervalSinceDate(phase.at);
  if (phase.kind == BlockingPhase::Kind::kImminent)
    return {true, Reason::kScheduleSoon, untilBlock};
  return {false, Reason::kScheduleTooFar, untilBlock};
}

}  // namespace zelto
