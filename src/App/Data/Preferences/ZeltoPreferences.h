// ZeltoPreferences: the main record, stored in default.cfg: the blocking state, the break
// allowances, the main application's settings and usage markers, the profiles and the past
// sessions.
//
// One instance is shared by the whole process (`standardPreferences`), loaded from the file on
// first use and refreshed in place by `discardUnsavedChanges` (or, reading only a changed file,
// `discardUnsavedChangesIfFileChanged`). If that load fails the record is absent, and stays
// absent for every request until someone asks for another attempt (`retryStandardPreferences`;
// the watchdog does so once per check), so a process that started while the file was
// unreadable recovers once a good file is written, without reading a bad file again at every
// field read. A record once loaded is never replaced, only merged into. A failure while loading
// is logged and leaves the record absent; it never ends the process.
//
// No lock: the agent uses the shared record from its main loop only. `standardPreferences`
// itself may be called from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "App/Data/Preferences/ProfileZeltoPreferences.h"
#include "App/Data/Preferences/ZeltoBasePreferences.h"
#include "App/Data/Preferences/ZeltoSessionPreferences.h"
#include "Platform/Date.h"

namespace zelto {

class ZeltoPreferences : public JSONRecord<ZeltoPreferences, ZeltoBasePreferences> {
 public:
  // Every field starts zero, false or empty; the defaults are in the field table only.
  std::optional<Date> zeltoUnblockDate;
  std::optional<Date> zeltoUnbreakDate;
  bool zeltoHardcoreMode{};
  bool zeltoMustCompleteSession{};
  int32_t zeltoType{};
  int32_t zeltoMenuBarType{};
  int32_t zeltoMenuBarClickBehavior{};
  // The zone the controller works in when set (an IANA name); never stored.
  std::optional<std::string> currentTimeZone;
  Date lastCrashReportCheckDate;
  std::optional<Date> lastZeltoDate;
  std::optional<Date> lastUnzeltoDate;
  std::optional<Date> lastBreakDate;
  std::optional<Date> lastUnbreakDate;
  std::optional<Date> lastTimerTickDate;
  std::optional<nlohmann::json> httpPort;
  std::optional<nlohmann::json> websocketPort;
  int64_t lastCustomHoursTime{};
  int64_t lastCustomMinutesTime{};
  uint64_t blockSpeedThrottle{};
  uint64_t breakInterval{};
  uint64_t breakTotalAllowedInterval{};
  uint64_t breakTimeoutInterval{};
  std::optional<bool> isUserInitiated;
  bool hasSeenPreferences{};
  bool hasPromptedForFirefox{};
  bool enableBetaUpdates{};
  bool enableMonochromeIcon{};
  bool enableCloseBrowserTabs{};
  bool enablePomodoroMode{};
  bool disableEagerUnzelto{};
  bool disableAutoSendCrashReports{};
  bool disableShowBrowserPopover{};
  bool disableLaunchOnStartup{};
  bool disableNotifications{};
  bool disableShowDragAndDropTooltip{};
  bool disableBreaks{};
  bool disableDoNotDisturbMode{};
  uint64_t numberOfTimesRun{};
  double maxExpectedBreakInterval{};
  std::string uniqueIdentifier;
  std::optional<std::string> password;
  bool did_use_zelto{};
  bool did_use_schedule{};
  bool did_use_timer{};
  bool did_use_pomomdoro{};
  bool did_use_break{};
  bool did_use_hardcore_mode{};
  bool did_use_scripting{};
  bool did_use_password_mode{};
  std::vector<ProfileZeltoPreferences> profiles;
  std::vector<ZeltoSessionPreferences> sessions;

  // The fields and their 39 defaults; built afresh, these are a new uniqueIdentifier and
  // lastCrashReportCheckDate, the local wall-clock time followed by a literal "Z".
  static const std::vector<RecordField<ZeltoPreferences>>& fields();
  static bool propertyIsOptional(const std::string& name);

  // The process's shared record, loaded at the first request; nullptr when that load (or the
  // last retry) failed.
  static ZeltoPreferences* standardPreferences();
  // The shared record, loading it again first when it is absent.
  static ZeltoPreferences* retryStandardPreferences();
  // The record of a namespace's file (defaults alone when there is none). When the file can't
  // be used or is gone, the last good copy of the configuration (LastGoodConfiguration) stands
  // in for it, when there is one. A failure is logged; its reason is that of the file or of the
  // record.
  static Result<ZeltoPreferences> loadWithNamespace(const std::string& configNamespace);
  static Result<ZeltoPreferences> initWithNamespace(const std::string& configNamespace,
                                                    const nlohmann::json& preferences);
  // The same, taking the large values of `preferences` rather than copying them.
  static Result<ZeltoPreferences> initWithNamespace(const std::string& configNamespace,
                                                    nlohmann::json&& preferences);

  // The first profile, created (all defaults, not saved) when there is none.
  ProfileZeltoPreferences* defaultProfile();
  std::vector<ScheduleZeltoPreferences> getAllSortedSchedules() const;

  // The default profile's entry for an application path (exact text), or nothing.
  std::optional<nlohmann::json> preferenceDictionaryWithApplicationPath(const std::string& path);
  // The last position in `paths` whose bundle has `bundleIdentifier`, or INT64_MAX.
  static int64_t indexOfAppWithBundleIdentifier(const std::string& bundleIdentifier,
                                                const std::vector<std::string>& paths);
  // Brings the default profile's entries in step with a changed list of application paths.
  void syncBlockedApplicationsArrays(const std::vector<std::string>& newPaths,
                                     const std::optional<std::vector<std::string>>& oldPaths);

  Status resetToDefaults() override;

  // Tests only: forget the shared record so the next request loads afresh.
  static void resetSharedInstanceForTesting();

 protected:
  // Every discard empties the fields that only the file may set again.
  void prepareDiscard(nlohmann::json& stored) const override;

 private:
  void clearVolatileFields();
  // `record` of the namespace, or its failure logged.
  static Result<ZeltoPreferences> named(const std::string& configNamespace,
                                        Result<ZeltoPreferences> record);
  // The record of the last good copy, with a warning saying the file `why`; nothing when there
  // is no usable copy.
  static std::optional<ZeltoPreferences> lastGoodRecord(const std::string& configNamespace,
                                                        const std::string& why);
};

}  // namespace zelto
