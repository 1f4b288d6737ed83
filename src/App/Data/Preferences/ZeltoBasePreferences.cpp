#include "App/Data/Preferences/ZeltoBasePreferences.h"

#include <fmt/format.h>

#include "App/Blocking/Helpers/ZeltoUtils.h"
#include "Platform/Clock.h"
#include "Platform/DateCalendar.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"
#include "Platform/Log.h"

namespace zelto {

namespace {

// A dictionary as it appears in a log line; never fails, even on text that isn't UTF-8.
std::string describe(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Why `value` can't stand at the top of a configuration file: nothing for an object or a list,
// else what it is instead.
std::optional<std::string> topLevelProblem(const nlohmann::json& value) {
  if (value.is_object() || value.is_array()) return std::nullopt;
  std::string kind = value.is_null()      ? "null"
                     : value.is_boolean() ? "a boolean"
                     : value.is_string()  ? "a string"
                     : value.is_number()  ? "a number"
                                          : "not a plain value";
  return "the top-level value is " + kind + ", not an object or array";
}

// Logs `line` as information and fails with it as the reason.
Status logged(const std::string& line) {
  log::info("{}", line);
  return Status::failure(line);
}

}  // namespace

std::string ZeltoBasePreferences::standardNamespace() { return "default"; }

std::optional<std::string> ZeltoBasePreferences::standardConfigurationPath() {
  return ZeltoUtils::getConfigurationPath(standardNamespace());
}

Result<nlohmann::json> ZeltoBasePreferences::configObjectForNamespace(
    const std::string& configNamespace) {
  auto path = ZeltoUtils::getConfigurationPath(configNamespace);
  const std::string shown = path.value_or("(null)");
  if (!path || !ZeltoUtils::createApplicationSupportDirectoryIfNecessary().ok()) {
    return logged(
        fmt::format("Unable to use configuration at {} because directory doesn't exist", shown));
  }
  return configObjectAtPath(*path);
}

Result<nlohmann::json> ZeltoBasePreferences::configObjectAtPath(const std::string& path) {
  log::info("Looking up configuration file at {}", path);
  FileSystem& fs = Env::fileSystem();
  if (!fs.exists(path)) {
    log::info("Configuration file does not exist at {}...starting from defaults", path);
    return nlohmann::json::object();
  }
  // Only a regular file is read, and reading never blocks (a FIFO at the path is refused).
  Result<std::string> text = fs.readFile(path);
  if (!text.ok()) {
    return logged(
        fmt::format("Unable to load configuration file at {}. Something bad has happened.", path));
  }
  nlohmann::json parsed;
  try {
    parsed = nlohmann::json::parse(*text);
  } catch (const nlohmann::json::exception& e) {
    return logged(fmt::format("Error while unserializing file at {}: {}", path, e.what()));
  }
  // A configuration file holds an object or a list at its top; the parser takes a bare value
  // too, but such a file is malformed, not merely the wrong kind of configuration.
  if (auto problem = topLevelProblem(parsed)) {
    return logged(fmt::format("Error while unserializing file at {}: {}", path, *problem));
  }
  // Only an object can hold a record: a list is no configuration.
  if (!parsed.is_object()) {
    return logged(
        fmt::format("Error while unserializing file at {}. Invalid configuration object.", path));
  }
  return parsed;
}

std::optional<std::string> ZeltoBasePreferences::configFilePath() const {
  return ZeltoUtils::getConfigurationPath(ns);
}

bool ZeltoBasePreferences::exists() const {
  auto path = configFilePath();
  return path && Env::fileSystem().exists(*path);
}

Status ZeltoBasePreferences::save() { return saveWithBackup(true); }

Status ZeltoBasePreferences::saveWithBackup(bool backup) {
  auto path = configFilePath();
  if (!path) return Status::failure("No configuration directory to save " + ns + " in");
  if (backup) {
    if (Status saved = saveToPath(*path + ".bak"); !saved.ok()) return saved;
    if (Status saved = saveToPath(*path); !saved.ok()) return saved;
    log::debug("Saved preferences with backup");
  } else {
    if (Status saved = saveToPath(*path); !saved.ok()) return saved;
    log::debug("Saved preferences without backup");
  }
  return Status::success();
}

Status ZeltoBasePreferences::saveSnapshot() {
  auto path = configFilePath();
  if (!path) return Status::failure("No configuration directory to save " + ns + " in");
  DateComponents now =
      DateCalendar::dateComponentsDate(Env::clock().now(), DateCalendar::systemTimeZoneName());
  std::string snapshot = fmt::format("{}_{}_{}_{}_{}_{}_{}.snapshot", *path, now.year, now.month,
                                     now.day, now.hour, now.minute, now.second);
  Status saved = saveToPath(snapshot);
  if (saved.ok()) log::debug("Successfully saved preferences snapshot to {}", snapshot);
  return saved;
}

Status ZeltoBasePreferences::saveToPath(const std::string& path) {
  nlohmann::json dictionary = toDictionary();
  std::string bytes;
  try {
    // Compact UTF-8; text that isn't valid UTF-8 fails here rather than reaching the file.
    bytes = dictionary.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
  } catch (const nlohmann::json::exception& e) {
    std::string reason = fmt::format("Error while serializing config object {} (error = {})",
                                     describe(dictionary), e.what());
    log::error("{}", reason);
    return Status::failure(reason);
  }
  Status written = Env::fileSystem().writeFileAtomically(path, bytes, FileSystem::kPrivateFileMode);
  if (!written.ok()) {
    std::string reason = fmt::format("Error while writing config object {} to {} ({})",
                                     describe(dictionary), path, written.message());
    log::error("{}", reason);
    return Status::failure(reason);
  }
  return Status::success();
}

Status ZeltoBasePreferences::resetToDefaults() {
  if (Status merged = mergeFromDictionary(getDefaultValues()); !merged.ok()) {
    log::error("Error while resetting to default values: {}", merged.message());
    return merged.withContext("Error while resetting to default values");
  }
  return Status::success();
}

Status ZeltoBasePreferences::discardUnsavedChanges() {
  Result<nlohmann::json> stored = configObjectForNamespace(ns);
  if (!stored.ok()) {
    log::info("Invalid configuration option returned for namespace: {}", ns);
    return stored.status();
  }
  if (Status merged = mergeFromDictionary(*stored); !merged.ok()) {
    log::error("Error while discarding unsaved changes: {}", merged.message());
    return merged.withContext("Error while discarding unsaved changes");
  }
  return Status::success();
}

}  // namespace zelto
