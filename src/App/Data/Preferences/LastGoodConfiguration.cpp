#include "App/Data/Preferences/LastGoodConfiguration.h"

#include "App/Data/Preferences/ZeltoBasePreferences.h"
#include "Platform/Directories.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"
#include "Platform/Log.h"

namespace zelto {

std::optional<std::string> LastGoodConfiguration::pathFor(const std::string& configNamespace) {
  auto state = Env::directories().stateDirectory();
  if (!state) return std::nullopt;
  return path::appendingComponent(path::appendingComponent(*state, "LastGood"),
                                  configNamespace + ".cfg");
}

void LastGoodConfiguration::remember(const std::string& configNamespace,
                                     const nlohmann::json& dictionary) {
  auto path = pathFor(configNamespace);
  if (!path) return;
  std::string bytes;
  try {
    bytes = dictionary.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
  } catch (const std::exception&) {
    return;  // not valid UTF-8: such a record can't be saved either, and the copy stays as it is
  }
  FileSystem& fs = Env::fileSystem();
  // Most loads find what the copy already holds: one small read saves a write.
  Result<std::string> held = fs.readFile(*path, ZeltoBasePreferences::kMaxConfigurationBytes);
  if (held.ok() && *held == bytes) return;
  Status made = fs.createDirectories(path::deletingLastComponent(*path));
  Status written =
      made.ok() ? fs.writeFileAtomically(*path, bytes, FileSystem::kPrivateFileMode) : made;
  if (!written.ok()) {
    log::warning("Can't keep a copy of the configuration at {}: {}", *path, written.message());
  }
}

Result<nlohmann::json> LastGoodConfiguration::recall(const std::string& configNamespace) {
  auto path = pathFor(configNamespace);
  if (!path) return Status::notFound("No last good configuration: the home directory is unknown");
  // A copy that can't be looked at is one that can't be used, not none.
  if (Result<FileStatus> found = Env::fileSystem().inspect(*path); !found.ok()) {
    return found.status();
  }
  return ZeltoBasePreferences::configObjectAtPath(*path);
}

}  // namespace zelto
