#include "App/Data/Preferences/ZeltoPreferences.h"

#include <fmt/format.h>

#include <algorithm>
#include <limits>
#include <mutex>

#include "App/Blocking/Helpers/ZeltoUtils.h"
#include "App/Data/Preferences/LastGoodConfiguration.h"
#include "Platform/BundleInfo.h"
#include "Platform/Clock.h"
#include "Platform/DateCalendar.h"
#include "Platform/Env.h"
#include "Platform/Log.h"
#include "Platform/UUID.h"

namespace zelto {

namespace {

std::mutex sharedMutex;
ZeltoPreferences* sharedInstance = nullptr;  // never released once loaded
bool sharedLoadAttempted = false;

nlohmann::json newApplicationEntry(const std::string& path) {
  return {{"path", path},
          {"shouldHideInsteadOfQuit", true},
          {"shouldAlwaysForceQuit", false},
          {"shouldReopenWhenUnzeltoing", true},
          {"performOnlySoftKillThenLeaveOpen", false}};
}

// `entries` without every entry equal to `entry`.
nlohmann::json withoutEntry(const nlohmann::json& entries, const nlohmann::json& entry) {
  nlohmann::json kept = nlohmann::json::array();
  for (const auto& e : entries) {
    if (e != entry) kept.push_back(e);
  }
  return kept;
}

bool entryHasPath(const nlohmann::json& entry, const std::string& path) {
  if (!entry.is_object()) return false;
  auto it = entry.find("path");
  return it != entry.end() && it->is_string() && it->get_ref<const std::string&>() == path;
}

// The moment now as local wall-clock time with a literal "Z" after it, as the main application
// has always written the crash-check default (it is not UTC).
std::string localTimeWithLiteralZ() {
  DateComponents local =
      DateCalendar::dateComponentsDate(Env::clock().now(), DateCalendar::systemTimeZoneName());
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", local.year, local.month, local.day,
                     local.hour, local.minute, local.second);
}

}  // namespace

const std::vector<RecordField<ZeltoPreferences>>& ZeltoPreferences::fields() {
  using Z = ZeltoPreferences;
  static const std::vector<RecordField<Z>> table{
      fields::date("zeltoUnblockDate", &Z::zeltoUnblockDate),
      fields::date("zeltoUnbreakDate", &Z::zeltoUnbreakDate),
      fields::flag("zeltoHardcoreMode", &Z::zeltoHardcoreMode, false),
      fields::flag("zeltoMustCompleteSession", &Z::zeltoMustCompleteSession, false),
      fields::int32("zeltoType", &Z::zeltoType, 0),
      fields::int32("zeltoMenuBarType", &Z::zeltoMenuBarType, 0),
      fields::int32("zeltoMenuBarClickBehavior", &Z::zeltoMenuBarClickBehavior, 0),
      fields::date("lastCrashReportCheckDate", &Z::lastCrashReportCheckDate, localTimeWithLiteralZ),
      fields::date("lastZeltoDate", &Z::lastZeltoDate),
      fields::date("lastUnzeltoDate", &Z::lastUnzeltoDate),
      fields::date("lastBreakDate", &Z::lastBreakDate),
      fields::date("lastUnbreakDate", &Z::lastUnbreakDate),
      fields::date("lastTimerTickDate", &Z::lastTimerTickDate),
      fields::number("httpPort", &Z::httpPort),
      fields::number("websocketPort", &Z::websocketPort),
      fields::int64("lastCustomHoursTime", &Z::lastCustomHoursTime, 0),
      fields::int64("lastCustomMinutesTime", &Z::lastCustomMinutesTime, 0),
      fields::uint64("blockSpeedThrottle", &Z::blockSpeedThrottle, 1),
      fields::uint64("breakInterval", &Z::breakInterval, 300),
      fields::uint64("breakTotalAllowedInterval", &Z::breakTotalAllowedInterval, 1800),
      fields::uint64("breakTimeoutInterval", &Z::breakTimeoutInterval, 86400),
      fields::flag("isUserInitiated", &Z::isUserInitiated),
      fields::flag("hasSeenPreferences", &Z::hasSeenPreferences, false),
      fields::flag("hasPromptedForFirefox", &Z::hasPromptedForFirefox, false),
      fields::flag("enableBetaUpdates", &Z::enableBetaUpdates, false),
      fields::flag("enableMonochromeIcon", &Z::enableMonochromeIcon, false),
      fields::flag("enableCloseBrowserTabs", &Z::enableCloseBrowserTabs, false),
      fields::flag("enablePomodoroMode", &Z::enablePomodoroMode, false),
      fields::flag("disableEagerUnzelto", &Z::disableEagerUnzelto, false),
      fields::flag("disableAutoSendCrashReports", &Z::disableAutoSendCrashReports, false),
      fields::flag("disableShowBrowserPopover", &Z::disableShowBrowserPopover, false),
      fields::flag("disableLaunchOnStartup", &Z::disableLaunchOnStartup, false),
      fields::flag("disableNotifications", &Z::disableNotifications, false),
      fields::flag("disableShowDragAndDropTooltip", &Z::disableShowDragAndDropTooltip, false),
      fields::flag("disableBreaks", &Z::disableBreaks, false),
      fields::flag("disableDoNotDisturbMode", &Z::disableDoNotDisturbMode, true),
      fields::uint64("numberOfTimesRun", &Z::numberOfTimesRun, 0),
      fields::real("maxExpectedBreakInterval", &Z::maxExpectedBreakInterval, 0),
      fields::text("uniqueIdentifier", &Z::uniqueIdentifier, [] { return UUID::generateString(); }),
      fields::text("password", &Z::password),
      fields::flag("did_use_zelto", &Z::did_use_zelto, false),
      fields::flag("did_use_schedule", &Z::did_use_schedule, false),
      fields::flag("did_use_timer", &Z::did_use_timer, false),
      fields::flag("did_use_pomomdoro", &Z::did_use_pomomdoro, false),
      fields::flag("did_use_break", &Z::did_use_break, false),
      fields::flag("did_use_hardcore_mode", &Z::did_use_hardcore_mode, false),
      fields::flag("did_use_scripting", &Z::did_use_scripting, false),
      fields::flag("did_use_password_mode", &Z::did_use_password_mode, false),
      fields::records("profiles", &Z::profiles, nlohmann::json::array({nlohmann::json::object()})),
      fields::records("sessions", &Z::sessions, nlohmann::json::array()),
  };
  return table;
}

bool ZeltoPreferences::propertyIsOptional(const std::string& name) {
  return name == "isUserInitiated";
}

namespace {

// Loads the shared record when it is absent. REQUIRES: sharedMutex held.
void loadSharedLocked() {
  if (sharedInstance != nullptr) return;
  try {
    if (auto loaded = ZeltoPreferences::loadWithNamespace(ZeltoPreferences::standardNamespace())) {
      sharedInstance = new ZeltoPreferences(std::move(*loaded));
    }
  } catch (...) {
    // Nothing here should throw; if something does, the agent must live on without a record
    // rather than die (a dead watchdog is no watchdog).
    log::error("Fatal error while loading Zelto preferences");
  }
}

}  // namespace

ZeltoPreferences* ZeltoPreferences::standardPreferences() {
  std::lock_guard<std::mutex> lock(sharedMutex);
  if (!sharedLoadAttempted) {
    sharedLoadAttempted = true;
    loadSharedLocked();
  }
  return sharedInstance;
}

ZeltoPreferences* ZeltoPreferences::retryStandardPreferences() {
  std::lock_guard<std::mutex> lock(sharedMutex);
  sharedLoadAttempted = true;
  loadSharedLocked();
  return sharedInstance;
}

void ZeltoPreferences::resetSharedInstanceForTesting() {
  std::lock_guard<std::mutex> lock(sharedMutex);
  delete sharedInstance;
  sharedInstance = nullptr;
  sharedLoadAttempted = false;
}

std::optional<ZeltoPreferences> ZeltoPreferences::lastGoodRecord(const std::string& configNamespace,
                                                                 const std::string& why) {
  Result<nlohmann::json> copy = LastGoodConfiguration::recall(configNamespace);
  if (!copy.ok()) {
    if (!copy.status().isNotFound()) {
      log::warning("The last good configuration can't be used: {}", copy.status().message());
    }
    return std::nullopt;
  }
  Result<ZeltoPreferences> record = initWithNamespace(configNamespace, *copy);
  if (!record.ok()) {
    log::warning("The last good configuration can't be used: {}", record.status().message());
    return std::nullopt;
  }
  log::warning("The configuration file {} {}: using the last good configuration, kept at {}",
               ZeltoUtils::getConfigurationPath(configNamespace).value_or("(null)"), why,
               LastGoodConfiguration::pathFor(configNamespace).value_or("(null)"));
  // Held like a loaded file: a reload that finds no file keeps it, and the next save writes it.
  record->noteFileLoaded();
  return std::move(record).value();
}

Result<ZeltoPreferences> ZeltoPreferences::loadWithNamespace(const std::string& configNamespace) {
  std::optional<FileVersion> version;
  std::string text;
  Result<std::optional<nlohmann::json>> stored = readNamespace(configNamespace, version, &text);
  if (!stored.ok()) {
    log::info("Invalid configuration option returned for namespace: {}", configNamespace);
  }
  // A file that can't be used, or none: the last configuration that could be used, when there
  // is one, rather than the defaults (a block must not end with the file).
  if (!stored.ok() || !*stored) {
    if (auto copy = lastGoodRecord(configNamespace, stored.ok() ? "is gone" : "can't be used")) {
      return std::move(*copy);
    }
    if (!stored.ok()) return stored.status();
  }
  Result<ZeltoPreferences> record =
      initWithNamespace(configNamespace, std::move(*stored).value_or(nlohmann::json::object()));
  if (!record.ok()) {
    if (auto copy = lastGoodRecord(configNamespace, "doesn't fit the record")) {
      return std::move(*copy);
    }
    return record;
  }
  if (*stored) {
    record->noteFileLoaded();
    LastGoodConfiguration::remember(configNamespace, text);
  }
  // Defaults made for absent keys (a new identifier, the time now) are the record's own: the
  // file is read again only once it has changed.
  if (version) record->holdVersion(std::move(*version));
  const size_t read = text.size();
  text = std::string();  // gone before the heap is trimmed
  releaseMemoryAfterReading(read);
  return record;
}

Result<ZeltoPreferences> ZeltoPreferences::initWithNamespace(const std::string& configNamespace,
                                                             const nlohmann::json& preferences) {
  return named(configNamespace, initWithDictionary(preferences));
}

Result<ZeltoPreferences> ZeltoPreferences::initWithNamespace(const std::string& configNamespace,
                                                             nlohmann::json&& preferences) {
  return named(configNamespace, initWithDictionary(std::move(preferences)));
}

Result<ZeltoPreferences> ZeltoPreferences::named(const std::string& configNamespace,
                                                 Result<ZeltoPreferences> record) {
  if (!record.ok()) {
    log::error("Unable to initialize Zelto Preferences because of error: {}",
               record.status().message());
    return record;
  }
  record->ns = configNamespace;
  return record;
}

ProfileZeltoPreferences* ZeltoPreferences::defaultProfile() {
  if (!profiles.empty()) return &profiles.front();
  Result<ProfileZeltoPreferences> profile = ProfileZeltoPreferences::defaultInstance();
  if (!profile.ok()) return nullptr;
  fileMayHaveChanged();  // a profile the file doesn't hold: the next reload drops it, as ever
  profiles.push_back(std::move(profile).value());
  return &profiles.front();
}

std::vector<ScheduleZeltoPreferences> ZeltoPreferences::getAllSortedSchedules() const {
  std::vector<ScheduleZeltoPreferences> all;
  for (const auto& profile : profiles) {
    all.insert(all.end(), profile.schedules.begin(), profile.schedules.end());
  }
  return ScheduleZeltoPreferences::sortedBySortIndex(std::move(all));
}

std::optional<nlohmann::json> ZeltoPreferences::preferenceDictionaryWithApplicationPath(
    const std::string& path) {
  ProfileZeltoPreferences* profile = defaultProfile();
  if (profile == nullptr || !profile->blockedApplications.is_array()) return std::nullopt;
  for (const auto& entry : profile->blockedApplications) {
    if (entryHasPath(entry, path)) return entry;
  }
  return std::nullopt;
}

int64_t ZeltoPreferences::indexOfAppWithBundleIdentifier(const std::string& bundleIdentifier,
                                                         const std::vector<std::string>& paths) {
  int64_t found = std::numeric_limits<int64_t>::max();
  int matches = 0;
  for (size_t i = 0; i < paths.size(); ++i) {
    if (BundleInfo::identifierOfBundleAt(paths[i], Env::fileSystem()) == bundleIdentifier) {
      found = static_cast<int64_t>(i);
      ++matches;
    }
  }
  if (matches != 1) {
    log::debug(
        "Invalid setup: expected exactly one application with bundle identifier {} but found "
        "{}; several distracting applications might share one bundle identifier",
        bundleIdentifier, matches);
  }
  return found;
}

void ZeltoPreferences::syncBlockedApplicationsArrays(
    const std::vector<std::string>& newPaths,
    const std::optional<std::vector<std::string>>& oldPaths) {
  fileMayHaveChanged();  // changed and not saved: the next reload reads the file
  ProfileZeltoPreferences* profile = defaultProfile();
  if (profile == nullptr) return;
  if (!profile->blockedApplications.is_array()) {
    profile->blockedApplications = nlohmann::json::array();
  }
  nlohmann::json& entries = profile->blockedApplications;

  for (const auto& path : newPaths) {
    if (preferenceDictionaryWithApplicationPath(path)) continue;
    bool replaced = false;
    if (oldPaths && oldPaths->size() >= newPaths.size()) {
      // An application was replaced: the old entry with the new bundle's identifier keeps its
      // flags, takes the new path and moves to the end.
      const std::string& newest = newPaths.back();
      auto identifier = BundleInfo::identifierOfBundleAt(newest, Env::fileSystem());
      int64_t index = identifier ? indexOfAppWithBundleIdentifier(*identifier, *oldPaths)
                                 : std::numeric_limits<int64_t>::max();
      if (index >= 0 && index < static_cast<int64_t>(oldPaths->size())) {
        if (auto old = preferenceDictionaryWithApplicationPath((*oldPaths)[index])) {
          nlohmann::json kept = withoutEntry(entries, *old);
          nlohmann::json moved = *old;
          moved["path"] = newest;
          kept.push_back(moved);
          entries = kept;
          replaced = true;
        }
      }
    }
    // With no old entry to carry over, the new path is simply an addition.
    if (!replaced) entries.push_back(newApplicationEntry(path));
  }

  if (oldPaths && oldPaths->size() > newPaths.size()) {
    for (const auto& path : *oldPaths) {
      if (std::find(newPaths.begin(), newPaths.end(), path) != newPaths.end()) continue;
      if (auto old = preferenceDictionaryWithApplicationPath(path)) {
        entries = withoutEntry(entries, *old);
      }
    }
  }
}

void ZeltoPreferences::clearVolatileFields() {
  lastZeltoDate.reset();
  lastUnzeltoDate.reset();
  lastBreakDate.reset();
  lastUnbreakDate.reset();
  lastTimerTickDate.reset();
  zeltoUnblockDate.reset();
  zeltoUnbreakDate.reset();
  password.reset();
  httpPort.reset();
  websocketPort.reset();
}

Status ZeltoPreferences::resetToDefaults() {
  clearVolatileFields();
  return ZeltoBasePreferences::resetToDefaults();
}

void ZeltoPreferences::prepareDiscard(nlohmann::json& stored) const {
  // The fields clearVolatileFields empties, as keys: null empties an optional field.
  for (const char* key :
       {"lastZeltoDate", "lastUnzeltoDate", "lastBreakDate", "lastUnbreakDate", "lastTimerTickDate",
        "zeltoUnblockDate", "zeltoUnbreakDate", "password", "httpPort", "websocketPort"}) {
    if (!stored.contains(key)) stored[key] = nullptr;
  }
}

}  // namespace zelto
