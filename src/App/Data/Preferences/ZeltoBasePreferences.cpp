#include "App/Data/Preferences/ZeltoBasePreferences.h"

#include <fmt/format.h>

#include <functional>

#include "App/Blocking/Helpers/ZeltoUtils.h"
#include "App/Data/Preferences/LastGoodConfiguration.h"
#include "Platform/Clock.h"
#include "Platform/DateCalendar.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"
#include "Platform/JsonText.h"
#include "Platform/Log.h"
#include "Platform/Memory.h"

namespace zelto {

namespace {

// A dictionary as it appears in a log line; never fails, even on text that isn't UTF-8. The log
// reaches files and the system log that others may read, so a password in the record is shown
// as "<redacted>" (the record itself keeps it).
std::string describe(const nlohmann::json& value) {
  constexpr const char* kPasswordKey = "password";
  if (value.is_object() && value.contains(kPasswordKey)) {
    nlohmann::json shown = value;
    shown[kPasswordKey] = "<redacted>";
    return shown.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
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

size_t ZeltoBasePreferences::contentDigest(std::string_view bytes) {
  return std::hash<std::string_view>{}(bytes);
}

std::optional<std::string> ZeltoBasePreferences::standardConfigurationPath() {
  return ZeltoUtils::getConfigurationPath(standardNamespace());
}

Result<nlohmann::json> ZeltoBasePreferences::configObjectForNamespace(
    const std::string& configNamespace) {
  std::optional<FileVersion> unused;
  Result<std::optional<nlohmann::json>> object = readNamespace(configNamespace, unused, nullptr);
  if (!object.ok()) return object.status();
  return object->value_or(nlohmann::json::object());
}

Result<std::optional<nlohmann::json>> ZeltoBasePreferences::readNamespace(
    const std::string& configNamespace, std::optional<FileVersion>& version, std::string* text) {
  auto path = ZeltoUtils::getConfigurationPath(configNamespace);
  const std::string shown = path.value_or("(null)");
  if (!path || !ZeltoUtils::createApplicationSupportDirectoryIfNecessary().ok()) {
    return logged(
        fmt::format("Unable to use configuration at {} because directory doesn't exist", shown));
  }
  // Taken before the read: a file replaced meanwhile shows another status at the next look.
  std::optional<FileStatus> before = Env::fileSystem().inspect(*path).toOptional();
  std::string read;
  Result<std::optional<nlohmann::json>> object = readConfigFile(*path, &read);
  if (object.ok() && *object && before && before->kind == FileStatus::Kind::kRegular) {
    version = FileVersion{*path, *before, contentDigest(read)};
  }
  if (text != nullptr) *text = std::move(read);
  return object;
}

Result<nlohmann::json> ZeltoBasePreferences::configObjectAtPath(const std::string& path) {
  Result<std::optional<nlohmann::json>> object = readConfigFile(path, nullptr);
  if (!object.ok()) return object.status();
  return object->value_or(nlohmann::json::object());
}

Result<std::optional<nlohmann::json>> ZeltoBasePreferences::readConfigFile(const std::string& path,
                                                                           std::string* text) {
  // Nothing below should throw; memory running out while a large file is read or parsed is
  // a file that can't be loaded, not the end of the process.
  try {
    return readConfigFileOrThrow(path, text);
  } catch (const std::exception&) {
    return logged(
        fmt::format("Unable to load configuration file at {}. Something bad has happened.", path));
  }
}

Result<std::optional<nlohmann::json>> ZeltoBasePreferences::readConfigFileOrThrow(
    const std::string& path, std::string* text) {
  log::info("Looking up configuration file at {}", path);
  FileSystem& fs = Env::fileSystem();
  const std::string unreadable =
      fmt::format("Unable to load configuration file at {}. Something bad has happened.", path);
  // A path that can't be looked at (no permission on the way, a loop of links) holds a file
  // that can't be read, not no file.
  Result<FileStatus> found = fs.inspect(path);
  if (found.status().isNotFound()) {
    log::info("Configuration file does not exist at {}...starting from defaults", path);
    return std::optional<nlohmann::json>();
  }
  if (!found.ok()) {
    log::warning("{}", found.status().message());  // the cause, for whoever reads the next line
    return logged(unreadable);
  }
  // Only a regular file is read, and reading never blocks (a FIFO at the path is refused).
  Result<std::string> bytes = fs.readFile(path, kMaxConfigurationBytes);
  if (!bytes.ok()) {
    log::warning("{}", bytes.status().message());
    return logged(unreadable);
  }
  // Nesting deeper than JsonText::kMaxDepth is refused here, so that no later copy, comparison
  // or print of the value recurses too deep.
  Result<nlohmann::json> read = JsonText::parse(*bytes);
  if (!read.ok()) {
    return logged(
        fmt::format("Error while unserializing file at {}: {}", path, read.status().message()));
  }
  nlohmann::json parsed = std::move(read).value();
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
  if (text != nullptr) *text = std::move(bytes).value();
  return std::optional<nlohmann::json>(std::move(parsed));
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
  // The file held is about as large as what is written now.
  const size_t sizeHint = heldFile_ ? static_cast<size_t>(heldFile_->version.status.size) : 0;
  // Until this save is known to be in the file, the file no longer holds this record.
  heldFile_.reset();
  auto path = configFilePath();
  if (!path) return Status::failure("No configuration directory to save " + ns + " in");
  Result<std::string> bytes = serialize(sizeHint);
  if (!bytes.ok()) return bytes.status();
  if (backup) {
    if (auto saved = writeBytes(*bytes, *path + ".bak", true); !saved.ok()) {
      return saved.status();
    }
  }
  auto saved = writeBytes(*bytes, *path, false);
  if (!saved.ok()) return saved.status();
  fileLoaded_ = true;
  LastGoodConfiguration::remember(ns, *bytes);
  if (*saved) {
    const size_t digest = contentDigest(*bytes);
    heldFile_ = HeldFile{FileVersion{*path, **saved, digest}, std::move(bytes).value()};
  }
  if (backup) {
    log::debug("Saved preferences with backup");
  } else {
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
  Result<std::string> bytes = serialize(0);
  if (!bytes.ok()) return bytes.status();
  return writeBytes(*bytes, path, false).status();
}

Result<std::string> ZeltoBasePreferences::serialize(size_t sizeHint) const {
  try {
    // Compact UTF-8, written from the fields without building the object first; text that
    // isn't valid UTF-8 fails here rather than reaching the file.
    std::string bytes;
    bytes.reserve(sizeHint + sizeHint / 16 + 4096);
    JsonTextWriter writer(bytes);
    writeDictionary(writer);
    return bytes;
  } catch (const nlohmann::json::exception& e) {
    std::string reason = fmt::format("Error while serializing config object {} (error = {})",
                                     describe(toDictionary()), e.what());
    log::error("{}", reason);
    return Status::failure(reason);
  }
}

Result<std::optional<FileStatus>> ZeltoBasePreferences::writeBytes(const std::string& bytes,
                                                                   const std::string& path,
                                                                   bool spare) const {
  FileSystem& fs = Env::fileSystem();
  auto written = spare
                     ? fs.writeSpareCopy(path, bytes, FileSystem::kPrivateFileMode)
                     : fs.writeFileAtomicallyWithStatus(path, bytes, FileSystem::kPrivateFileMode);
  if (!written.ok()) {
    log::error("Error while writing config object {} to {} ({})", describe(toDictionary()), path,
               written.status().message());
    // The caller shows the cause, not the whole record.
    return Status::failure(
        fmt::format("Can't save the configuration to {}: {}", path, written.status().message()));
  }
  return written;
}

Status ZeltoBasePreferences::resetToDefaults() {
  heldFile_.reset();  // changed and not saved: the next look at the file reads it
  if (Status merged = mergeFromDictionary(getDefaultValues()); !merged.ok()) {
    log::error("Error while resetting to default values: {}", merged.message());
    return merged.withContext("Error while resetting to default values");
  }
  return Status::success();
}

Status ZeltoBasePreferences::mergeStored(nlohmann::json stored) {
  prepareDiscard(stored);
  if (Status merged = mergeFromDictionary(stored); !merged.ok()) {
    log::error("Error while discarding unsaved changes: {}", merged.message());
    return merged.withContext("Error while discarding unsaved changes");
  }
  return Status::success();
}

Status ZeltoBasePreferences::discardUnsavedChanges() {
  heldFile_.reset();
  std::optional<FileVersion> version;
  std::string text;
  Result<std::optional<nlohmann::json>> stored = readNamespace(ns, version, &text);
  // Until the file has been read and parsed nothing of the record changes.
  if (!stored.ok()) {
    log::info("Invalid configuration option returned for namespace: {}", ns);
    return stored.status();
  }
  if (!*stored && fileLoaded_) {
    log::info("Keeping the last loaded configuration: its file {} is gone",
              configFilePath().value_or("(null)"));
    return Status::success();
  }
  const bool fromFile = stored->has_value();
  if (Status merged = mergeStored(std::move(*stored).value_or(nlohmann::json::object()));
      !merged.ok()) {
    return merged;
  }
  if (fromFile) {
    fileLoaded_ = true;
    LastGoodConfiguration::remember(ns, text);
  }
  // Defaults made for absent keys (a new identifier, say) are no change of the record's own: the
  // file is not read again until it changes.
  if (version) holdVersion(std::move(*version));
  // What the record held before is gone too, however small the new file: a large record
  // replaced by a small one leaves the most behind.
  text = std::string();
  if (fromFile) Memory::releaseFree();
  return Status::success();
}

void ZeltoBasePreferences::releaseMemoryAfterReading(size_t bytes) {
  if (bytes >= kReleaseAfterBytes) Memory::releaseFree();
}

Status ZeltoBasePreferences::discardUnsavedChangesIfContentChanged() {
  if (!heldFile_) return discardUnsavedChanges();
  auto path = configFilePath();
  if (!path || *path != heldFile_->version.path) return discardUnsavedChanges();
  FileSystem& fs = Env::fileSystem();
  std::optional<FileStatus> now = fs.inspect(*path).toOptional();
  if (!now || now->kind != FileStatus::Kind::kRegular) return discardUnsavedChanges();
  Result<std::string> bytes = fs.readFile(*path, kMaxConfigurationBytes);
  if (!bytes.ok() || contentDigest(*bytes) != heldFile_->version.digest) {
    return discardUnsavedChanges();
  }
  // The same bytes: what the record holds, perhaps under a new status.
  heldFile_->version.status = *now;
  return discardUnsavedChangesIfFileChanged();
}

Status ZeltoBasePreferences::discardUnsavedChangesIfFileChanged() {
  if (!heldFile_) return discardUnsavedChanges();
  auto path = configFilePath();
  if (!path || *path != heldFile_->version.path) return discardUnsavedChanges();
  auto now = Env::fileSystem().inspect(*path).toOptional();
  if (!now || !now->isSameVersionAs(heldFile_->version.status)) return discardUnsavedChanges();
  if (!heldFile_->unreadSave) return Status::success();

  // The file still holds what this record saved: take it back as a read would, from the
  // bytes written rather than the file.
  HeldFile held = std::move(*heldFile_);
  heldFile_.reset();
  Result<nlohmann::json> saved = JsonText::parse(*held.unreadSave);
  if (!saved.ok()) return discardUnsavedChanges();
  held.unreadSave.reset();
  if (Status merged = mergeStored(std::move(saved).value()); !merged.ok()) return merged;
  holdVersion(std::move(held.version));
  return Status::success();
}

}  // namespace zelto
