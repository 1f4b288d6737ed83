#include "Agent/App/Watchdog/LaunchDecision.h"

namespace zelto {

LaunchDecision LaunchDecision::decide(Zelto& zelto) { return from(BlockingPhase::of(zelto)); }

std::optional<LaunchDecision> LaunchDecision::whenStarted(bool started) {
  if (started) return LaunchDecision{true, Reason::kBlockingOn, -1};
  return std::nullopt;
}

std::optional<LaunchDecision> LaunchDecision::byHand(Zelto& zelto) {
  return whenStarted(zelto.shouldZelto());
}

LaunchDecision LaunchDecision::from(const BlockingPhase& phase) {
  if (auto decided = whenStarted(phase.started)) return *decided;
  if (phase.scheduled) return {true, Reason::kScheduleInForce, -1};
  if (phase.held) return {true, Reason::kLockedPeriodKept, -1};
  if (!phase.startsAt) return {false, Reason::kNoSchedule, -1};
  const double untilBlock = phase.startsAt->timeIntervalSinceDate(phase.at);
  if (phase.kind == BlockingPhase::Kind::kImminent)
    return {true, Reason::kScheduleSoon, untilBlock};
  return {false, Reason::kScheduleTooFar, untilBlock};
}

}  // namespace zelto
