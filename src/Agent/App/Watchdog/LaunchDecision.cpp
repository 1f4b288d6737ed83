#include "Agent/App/Watchdog/LaunchDecision.h"

namespace zelto {

LaunchDecision LaunchDecision::decide(Zelto& zelto) {
  if (zelto.shouldZelto()) return {true, Reason::kBlockingOn, -1};
  zelto.updateSchedule();
  const double untilBlock = zelto.getTimeIntervalUntilBlock();
  if (untilBlock < 0) return {false, Reason::kNoSchedule, -1};
  if (untilBlock <= Zelto::kScheduleLookAheadInterval) {
    return {true, Reason::kScheduleSoon, untilBlock};
  }
  return {false, Reason::kScheduleTooFar, untilBlock};
}

}  // namespace zelto
