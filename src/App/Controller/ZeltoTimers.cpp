// Countdown timers, the time left until blocking ends or starts, and breaks.
#include <cmath>

#include "App/Controller/Zelto.h"
#include "App/Data/Schedules/NSTimeIntervalFormatter.h"
#include "App/Helpers/Functional/F.h"
#include "Platform/Log.h"

namespace zelto {

bool Zelto::isTimeBlocked() { return isTimer() && isZeltoing && getTimeIntervalUntilUnblock() > 0; }

bool Zelto::isCountingDown() { return getCountDownInterval() != -1; }

bool Zelto::isBreaking() { return getTimeIntervalUntilUnbreak() > 0; }

void Zelto::resetToDefaults() {
  if (ZeltoPreferences* record = prefs()) record->resetToDefaults().ignoreError();  // logged
  resetTimerInformation();
}

void Zelto::setupTimerInformation() {
  ZeltoPreferences* record = prefs();
  if (record == nullptr) return;
  if (isTimer() && timerInterval > 0) {
    record->zeltoUnblockDate = now().addingTimeInterval(timerInterval);
    origTimerInterval = timerInterval;
    timerInterval = 0;
  } else if (isSchedule()) {
    record->zeltoUnblockDate = unblockScheduleDateWithDate(now());
  } else {
    return;
  }
  save().ignoreError();
}

void Zelto::resetTimerInformation() {
  log::info("reset timer information");
  isZeltoing = false;
  timerInterval = 0;
  if (ZeltoPreferences* record = prefs()) {
    record->zeltoType = 0;
    record->zeltoUnblockDate.reset();
    record->zeltoMustCompleteSession = false;
    save().ignoreError();
  }
}

double Zelto::getTimeIntervalUntilUnblock() {
  if (!isTimeBased()) return 0;
  if (timerInterval != 0) return timerInterval;
  const auto& unblockDate = current().zeltoUnblockDate;
  if (!unblockDate) return 0;
  return std::ceil(unblockDate->timeIntervalSinceDate(now()));
}

double Zelto::getTimeIntervalUntilBlock() { return getTimeIntervalUntilBlockWithDate(now()); }

double Zelto::getTimeIntervalUntilBlockWithDate(Date at) {
  if (scheduleNeedsUpdate(at)) updateScheduleWithDate(at);
  if (!schedule || schedule->items().empty()) return -1;
  auto next = schedule->getNextActiveScheduleItemForDate(at);
  if (!next) return -1;
  if (next->fromDate().isLessOrEqualToDate(at)) return -1;  // already under way
  return next->fromDate().timeIntervalSinceDate(at);
}

double Zelto::getCountDownInterval() {
  if (isZeltoing) return -1;
  double untilBlock = getTimeIntervalUntilBlock();
  if (untilBlock > kScheduleLookAheadInterval || untilBlock < 0) return -1;
  return untilBlock;
}

double Zelto::getTimeIntervalUntilUnbreak() {
  if (!isZeltoing && !isCountingDown()) return 0;
  const auto& unbreakDate = current().zeltoUnbreakDate;
  if (!unbreakDate) return 0;
  return std::ceil(unbreakDate->timeIntervalSinceDate(now()));
}

double Zelto::getActualZeltoTimeInterval() {
  const ZeltoPreferences& p = current();
  if (!p.lastUnzeltoDate || !p.lastZeltoDate) return 0;
  return p.lastUnzeltoDate->timeIntervalSinceDate(*p.lastZeltoDate);
}

double Zelto::getActualBreakTimeInterval() {
  const ZeltoPreferences& p = current();
  if (!p.lastUnbreakDate || !p.lastBreakDate) return 0;
  return p.lastUnbreakDate->timeIntervalSinceDate(*p.lastBreakDate);
}

std::vector<ZeltoSessionPreferences> Zelto::getZeltoSessionByType(int32_t type) {
  return F::filterArray(current().sessions, [type](const ZeltoSessionPreferences& session) {
    return session.zeltoType == type;
  });
}

std::vector<ZeltoSessionPreferences> Zelto::getZeltoBreaks() {
  return getZeltoSessionByType(kBreakSessionType);
}

namespace {

// A session's length in seconds; a stored length that isn't a number counts as none.
double sessionLength(const ZeltoSessionPreferences& session) {
  return session.interval.is_number() ? session.interval.get<double>() : 0;
}

// Seconds from the session's date to `now`.
double secondsSince(const ZeltoSessionPreferences& session, Date now) {
  return now.timeIntervalSinceDate(session.date);
}

}  // namespace

double Zelto::getAllowedBreakTime() {
  const ZeltoPreferences& p = current();
  const double timeout = static_cast<double>(p.breakTimeoutInterval);
  double used = 0;
  for (const auto& taken : getZeltoBreaks()) {
    if (timeout >= secondsSince(taken, now())) used += sessionLength(taken);
  }
  double remaining = static_cast<double>(p.breakTotalAllowedInterval) - used;
  return remaining < 0 ? 0 : std::ceil(remaining);
}

double Zelto::getTimeIntervalToNextBreak(double wanted) {
  const ZeltoPreferences& p = current();
  if (wanted > static_cast<double>(p.breakTotalAllowedInterval)) return -1;
  double available = getAllowedBreakTime();
  auto breaks = getZeltoBreaks();
  if (breaks.empty()) return 0;
  // When the allowance already covers the wanted length the break can be had now: 0, rather
  // than the time until some old break times out.
  if (available >= wanted) return 0;
  const double timeout = static_cast<double>(p.breakTimeoutInterval);
  for (const auto& taken : breaks) {
    double since = secondsSince(taken, now());
    if (timeout >= since) available += sessionLength(taken);
    if (available >= wanted) return timeout - since;
  }
  return 0;
}

std::string Zelto::getRelativeTimeUntilUnblock() {
  return NSTimeIntervalFormatter::relativeTimeForInterval(getTimeIntervalUntilUnblock());
}

std::string Zelto::getRelativeTimeUntilUnbreak() {
  return NSTimeIntervalFormatter::relativeTimeForInterval(getTimeIntervalUntilUnbreak());
}

std::string Zelto::getShortReadableTimeUntilUnblock() {
  return NSTimeIntervalFormatter::stringFromTimeInterval(getTimeIntervalUntilUnblock());
}

}  // namespace zelto
