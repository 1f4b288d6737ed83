// Zelto: the blocking-state controller. From the shared preferences record and the clock it
// knows whether blocking should be on now, in which mode, until when, whether a running period
// may end, and when the next scheduled period starts.
//
// One shared instance per process (`shared`), made on first use and never released; tests make
// their own with an injected clock. Every decision reads the preferences afresh; the only state
// kept between calls is the flags and timer lengths below and the generated schedule, a cache
// rebuilt when its window no longer fits. A rebuild for the moment, zone and schedule records it
// was last built from keeps it as it is: it would come out the same.
//
// When the shared record could not be loaded, the controller reads every field as empty, zero or
// false and saves nothing, until `refreshPrefs` loads it (the watchdog calls that once per
// check).
//
// Threads: every operation runs on one thread, the main loop in the agent, which serialises
// the uses of the record and of the cached schedule; the class therefore has no lock. Only
// `shared` may be called from any thread.
//
// The controller owns the site objects: the pattern converter `zeltoURL` and the matchers
// `urlMatchManager`, both made (matchers built) by the constructor and reading the record in use.
//
// The operations are spread over one file per concern: modes (ZeltoModes.cpp), timers and
// breaks (ZeltoTimers.cpp), schedules (ZeltoSchedule.cpp), ending a period (ZeltoEnding.cpp)
// and the site lists (ZeltoSites.cpp).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "App/Blocking/Helpers/ZeltoURL.h"
#include "App/Blocking/Helpers/ZeltoURLMatcherManager.h"
#include "App/Controller/HeldLock.h"
#include "App/Data/Preferences/ConfigurationLock.h"
#include "App/Data/Preferences/ProfileZeltoPreferences.h"
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
  Zelto(const Zelto&) = delete;
  Zelto& operator=(const Zelto&) = delete;

  // The current moment of the controller's clock, the "now" of every decision here.
  Date now() const { return clock_.now(); }

  // From now on locked periods seen in force are kept in `heldLock` until their end (see
  // HeldLock and BlockingPhase). Without one, as in tests, only the record decides.
  void keepLockedPeriodsIn(std::unique_ptr<HeldLock> heldLock) { heldLock_ = std::move(heldLock); }
  // The standard one, in the user's state directory (programs call this once at their start).
  void keepLockedPeriods();
  HeldLock* heldLock() { return heldLock_.get(); }

  // The preferences record in use, or nullptr while it can't be loaded.
  ZeltoPreferences* prefs();
  // Brings the record up to the file: the record in use reloads when the file changed since it
  // was last read or saved (`discardUnsavedChangesIfFileChanged`), an absent one is loaded anew
  // (one attempt).
  void refreshPrefs();
  // The file watcher saw the file change: the next refreshPrefs reads it whatever its status.
  void preferencesFileChanged();
  // A read-modify-write of the record, one writer at a time (ConfigurationLock): takes the
  // configuration's lock, reads the file afresh into the record, runs `change`, whose saves
  // reach the file before the lock is released, and releases. Nothing runs, and the failure
  // names the reason, when the lock can't be had within `wait` or there is no record or the
  // file can't be read (the record then stays as it was).
  Status edit(const std::function<void()>& change,
              std::chrono::milliseconds wait = ConfigurationLock::kDefaultWait);
  // Saves the record under the configuration's lock (re-entrant: inside `edit` it is already
  // held); the failure, logged, names the reason. A lock that can't be had is logged and the
  // save goes ahead: the controller's state matters more than another writer's edit, which it
  // may then overwrite. Nothing to save without a record.
  Status save();

  bool isZeltoing = false;
  bool shouldStartTimer = false;
  double timerInterval = 0;
  double origTimerInterval = 0;
  std::optional<Schedule> schedule;
  std::optional<Schedule> activeScheduleChain;
  // The profile in use, for a host that switches profiles; the decisions here read the default
  // profile.
  std::optional<ProfileZeltoPreferences> activeProfile;

  ZeltoURL& zeltoURL() { return *zeltoURL_; }
  ZeltoURLMatcherManager& urlMatchManager() { return *urlMatchManager_; }

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
  // The same at `date`: seconds until the next scheduled period starts, -1 when there is none
  // or one is under way (the schedule rebuilt first when its window doesn't fit `date`).
  double getTimeIntervalUntilBlockWithDate(Date date);
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
  // Whether `schedule` must be rebuilt to answer for `date`: none yet, under two periods, another
  // zone, `date` outside its window, or schedule records that make other periods than those it
  // was built from.
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

  // Site lists, from the default profile's, read afresh at every call. The list in force: the
  // allowed sites in allow-list mode, else the blocked ones, as written.
  std::vector<std::string> blockedURLs();
  // That list without empty entries.
  std::vector<std::string> unadjustedFilteredSites();
  // ... followed by the always-allowed addresses, each with "+" first.
  std::vector<std::string> filteredSites();
  // The compiled formats of `filteredSites`; a pattern that doesn't compile is left out with a
  // warning.
  ZeltoURL::Formats blockedRegexURLs();
  // The formats handed to browser extensions: in allow-list mode every allowed site with "+"
  // first, else the blocked sites; then the always-allowed addresses with "+".
  ZeltoURL::Formats getBrowserExtensionBlockURLs();
  // `blockedURLs` lower-cased.
  std::vector<std::string> normalizedBlockedURLs();
  // The blocked sites lower-cased, in either mode.
  std::vector<std::string> blockedDomains();
  // The matchers' decision for one URL.
  bool urlIsBlocked(std::string_view url);
  // The blocked ones of `urls`, decided by `blockedRegexURLs`; block-page addresses are kept out.
  std::vector<std::string> bulkFilterUrls(const std::vector<std::string>& urls);

 private:
  // The record, or an empty stand-in whose fields are all empty, zero or false.
  const ZeltoPreferences& current();

  // The default profile of the record in use; nothing while there is no record.
  ProfileZeltoPreferences* defaultProfile();
  bool isWhitelistMode();
  ZeltoURL::Formats formatsOf(const std::vector<std::string>& patterns);

  // What `schedule` was last built from.
  struct ScheduleSource {
    Date date;
    std::string zone;
    std::vector<ScheduleZeltoPreferences> records;
    uint64_t digest;  // of what the periods read of the records, taken without copying them
  };

  Clock& clock_;
  ZeltoPreferences* prefs_ = nullptr;
  std::optional<ScheduleSource> scheduleSource_;
  std::unique_ptr<ZeltoURL> zeltoURL_;
  std::unique_ptr<ZeltoURLMatcherManager> urlMatchManager_;
  std::unique_ptr<HeldLock> heldLock_;
};

}  // namespace zelto
