#include "Agent/App/Watchdog/LaunchDecision.h"

namespace zelto {

LaunchDecision LaunchDecision::decide(Zelto& zelto) {
  if (zelto.shouldZelto()) return {true, Reason::kBlockingOn, -1};
  // One moment for the whole decision: the schedule is made for it and asked about it.
  const Date now = zelto.now();
  zelto.updateScheduleWithDate(now);
  const double untilBlock = zelto.getTimeIntervalUntilBlockWithDate(now);
  if (untilBlock < 0) return {false, Reason::kNoSchedule, -1};
  if (untilBlock <= Zelto::kScheduleLookAheadInterval) {
    return {true, Reason::kScheduleSoon, untilBlock};
  }
  return {false, Reason::kScheduleTooFar, untilBlock};
}

}  // namespace zelto
