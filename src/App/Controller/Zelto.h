// Zelto: the blocking-state controller. From the shared preferences record and the clock it
// knows whether blocking should be on now, in which mode, until when, whether a running period
// may end, and when the next scheduled period starts.
//
// One shared instance per process (`shared`), made on first use and never released; tests make
// their own with an injected clock. Every decision reads the preferences afresh; the only state
// kept between calls is the flags and timer lengths below and the generated schedule, a cache
// rebuilt when its window no longer fits.
//
// When the shared record could not be loaded, the controller reads every field as empty, zero or
// false and saves nothing, until `refreshPrefs` loads it (the watchdog calls that once per
// check).
//
// Threads: every operation runs on one thread, the main loop in the agent, which serialises
// the uses of the record and of the cached schedule; the class therefore has no lock. Only
// `shared` may be called from any thread.
//
// The operations are spread over one file per concern: modes (ZeltoModes.cpp), timers and
// breaks (ZeltoTimers.cpp), schedules (ZeltoSchedule.cpp) and ending a period (ZeltoEnding.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "App/Data/Preferences/ZeltoPreferences.h"
#include "App/Data/Schedules/Schedule.h"
#include "Platform/Clock.h"
#include "Platform/Date.h"

namespace zelto {

class Zelto {
 public:
  // The schedule look-ahead: a countdown exists, and the watchdog launches the main
  // application, when a scheduled period starts within this many seconds.
  static constexpr int kScheduleLookAheadInterval = 300;
  static constexpr int32_t kBreakSessionType = 4;

  static Zelto& shared();
  explicit Zelto(Clock& clock);

  // The preferences record in use, or nullptr while it can't be loaded.
  ZeltoPreferences* prefs();
  // Reads the file again: the record in use reloads (`discardUnsavedChanges`), an absent one is
  // loaded anew (one attempt).
  void refreshPrefs();

  bool isZeltoing = false;
  bool shouldStartTimer = false;
  double timerInterval = 0;
  double origTimerInterval = 0;
  std::optional<Schedule> schedule;
  std::optional<Schedule> activeScheduleChain;
  // Blocked-site objects (the URL converter and matchers) are added with the site lists.

  // Modes.
  bool isNormal();
  bool isTimer();
  bool isSchedule();
  bool isTimeBased();
  bool shouldZelto();

  // Timers and breaks.
  bool isTimeBlocked();
  bool isCountingDown();
  bool isBreaking();
  void resetToDefaults();
  void setupTimerInformation();
  void resetTimerInformation();
  double getTimeIntervalUntilUnblock();
  double getTimeIntervalUntilBlock();
  double getCountDownInterval();
  double getTimeIntervalUntilUnbreak();
  double getActualZeltoTimeInterval();
  double getActualBreakTimeInterval();
  std::vector<ZeltoSessionPreferences> getZeltoSessionByType(int32_t type);
  std::vector<ZeltoSessionPreferences> getZeltoBreaks();
  double getAllowedBreakTime();
  double getTimeIntervalToNextBreak(double wanted);
  std::string getRelativeTimeUntilUnblock();
  std::string getRelativeTimeUntilUnbreak();
  std::string getShortReadableTimeUntilUnblock();

  // Schedules.
  std::string timeZone();
  bool scheduleNeedsUpdate(Date date);
  void updateScheduleWithDate(Date date);
  void updateSchedule();
  bool isScheduleBlockedWithDate(Date date);
  bool isScheduleBlocked();
  std::optional<NormalizedScheduleItem> getActiveEndSchedule();
  std::optional<NormalizedScheduleItem> getActiveEndScheduleForDate(Date date);
  std::optional<Date> unblockScheduleDateWithDate(Date date);
  std::string unblockScheduleTimeWithDate(Date date);
  bool disableActiveScheduleChain();

  // Ending a period.
  bool shouldUnzelto();
  bool canHardcoreUnzelto();

 private:
  // The record, or an empty stand-in whose fields are all empty, zero or false.
  const ZeltoPreferences& current();
  void save();
  Date now() const { return clock_.now(); }

  Clock& clock_;
  ZeltoPreferences* prefs_ = nullptr;
};

}  // namespace zelto
