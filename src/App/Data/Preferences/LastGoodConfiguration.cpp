#include "App/Data/Preferences/LastGoodConfiguration.h"

#include <functional>
#include <map>
#include <mutex>
#include <string_view>

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

void LastGoodConfiguration::remember(const std::string& configNamespace, const std::string& bytes) {
  // What this process last wrote or found at each copy: the copy's status then, and the digest
  // of its bytes. While the copy's status stays the same it holds those bytes.
  struct Known {
    FileStatus status;
    size_t digest;
  };
  static std::mutex mutex;
  static std::map<std::string, Known> known;  // by path; one or two namespaces

  auto path = pathFor(configNamespace);
  if (!path) return;
  FileSystem& fs = Env::fileSystem();
  const size_t digest = std::hash<std::string_view>{}(bytes);
  const std::optional<FileStatus> now = fs.inspect(*path).toOptional();
  std::lock_guard<std::mutex> lock(mutex);
  auto found = known.find(*path);
  if (now && found != known.end() && found->second.status.isSameVersionAs(*now) &&
      found->second.digest == digest && now->size == bytes.size()) {
    return;
  }
  // Another program may have left the same bytes there (every program loads the same file): one
  // read of a copy of the same size saves a write.
  if (now && now->kind == FileStatus::Kind::kRegular && now->size == bytes.size()) {
    Result<std::string> held = fs.readFile(*path, bytes.size());
    if (held.ok() && *held == bytes) {
      known[*path] = Known{*now, digest};
      return;
    }
  }
  known.erase(*path);
  Status made = fs.createDirectories(path::deletingLastComponent(*path));
  Result<std::optional<FileStatus>> written =
      made.ok() ? fs.writeSpareCopy(*path, bytes, FileSystem::kPrivateFileMode)
                : Result<std::optional<FileStatus>>(made);
  if (!written.ok()) {
    log::warning("Can't keep a copy of the configuration at {}: {}", *path,
                 written.status().message());
    return;
  }
  if (*written) known[*path] = Known{**written, digest};
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
