// ZeltoPreferences: the main record, stored in default.cfg: the blocking state, the break
// allowances, the main application's settings and usage markers, the profiles and the past
// sessions.
//
// One instance is shared by the whole process (`standardPreferences`), loaded from the file on
// first use and refreshed in place by `discardUnsavedChanges`. If that load fails, every later
// request tries again (at most once per request), so a process that started while the file was
// unreadable recovers once a good file is written; a record once loaded is never replaced,
// only merged into. A failure while loading is logged and leaves the record absent; it never
// ends the process.
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
  std::optional<Date> zeltoUnblockDate;
  std::optional<Date> zeltoUnbreakDate;
  bool zeltoHardcoreMode = false;
  bool zeltoMustCompleteSession = false;
  int32_t zeltoType = 0;
  int32_t zeltoMenuBarType = 0;
  int32_t zeltoMenuBarClickBehavior = 0;
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
  int64_t lastCustomHoursTime = 0;
  int64_t lastCustomMinutesTime = 0;
  uint64_t blockSpeedThrottle = 1;
  uint64_t breakInterval = 300;
  uint64_t breakTotalAllowedInterval = 1800;
  uint64_t breakTimeoutInterval = 86400;
  std::optional<bool> isUserInitiated;
  bool hasSeenPreferences = false;
  bool hasPromptedForFirefox = false;
  bool enableBetaUpdates = false;
  bool enableMonochromeIcon = false;
  bool enableCloseBrowserTabs = false;
  bool enablePomodoroMode = false;
  bool disableEagerUnzelto = false;
  bool disableAutoSendCrashReports = false;
  bool disableShowBrowserPopover = false;
  bool disableLaunchOnStartup = false;
  bool disableNotifications = false;
  bool disableShowDragAndDropTooltip = false;
  bool disableBreaks = false;
  bool disableDoNotDisturbMode = true;
  uint64_t numberOfTimesRun = 0;
  double maxExpectedBreakInterval = 0;
  std::string uniqueIdentifier;
  std::optional<std::string> password;
  bool did_use_zelto = false;
  bool did_use_schedule = false;
  bool did_use_timer = false;
  bool did_use_pomomdoro = false;
  bool did_use_break = false;
  bool did_use_hardcore_mode = false;
  bool did_use_scripting = false;
  bool did_use_password_mode = false;
  std::vector<ProfileZeltoPreferences> profiles;
  std::vector<ZeltoSessionPreferences> sessions;

  static const std::vector<RecordField<ZeltoPreferences>>& fields();
  // The 39 defaults, built afresh: a new uniqueIdentifier, and lastCrashReportCheckDate the
  // local wall-clock time followed by a literal "Z".
  static nlohmann::json defaultValues();
  static bool propertyIsOptional(const std::string& name);

  // The process's shared record, or nullptr while it can't be loaded.
  static ZeltoPreferences* standardPreferences();
  // The record of a namespace's file (defaults alone when there is none). A failure is logged;
  // its reason is that of the file or of the record.
  static Result<ZeltoPreferences> loadWithNamespace(const std::string& configNamespace);
  static Result<ZeltoPreferences> initWithNamespace(const std::string& configNamespace,
                                                    const nlohmann::json& preferences);

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

  bool resetToDefaults() override;
  bool discardUnsavedChanges() override;

  // Tests only: forget the shared record so the next request loads afresh.
  static void resetSharedInstanceForTesting();

 private:
  void clearVolatileFields();
};

}  // namespace zelto
