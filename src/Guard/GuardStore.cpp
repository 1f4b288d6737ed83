#include "Guard/GuardStore.h"

#include <sys/stat.h>

#include <charconv>

#include "Platform/JsonText.h"
#include "Platform/Log.h"

namespace zelto {

std::map<uid_t, GuardLock> GuardStore::load(Date now) {
  std::map<uid_t, GuardLock> locks;
  auto names = fs_.listDirectory(dir_);
  if (!names) {
    if (!names.status().isNotFound())
      log::error("Can't list the locks in {}: {}", dir_, names.status().message());
    return locks;
  }
  for (const std::string& name : *names) {
    uid_t uid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), uid);
    if (error != std::errc() || std::string_view(end) != ".json") continue;
    const std::string path = dir_ + "/" + name;
    auto text = fs_.readFile(path, kMaxFileBytes);
    auto value = text ? JsonText::parse(*text) : Result<nlohmann::json>(text.status());
    auto lock = value ? GuardLock::fromJson(*value) : Result<GuardLock>(value.status());
    if (!lock) {
      log::error("Ignoring the damaged lock file {}: {}", path, lock.status().message());
      continue;
    }
    if (!lock->runsAt(now)) {
      log::info("The lock of user {} ended at {}; removing it", uid,
                lock->toJson()["end"].get<std::string>());
      remove(uid).ignoreError();
      continue;
    }
    locks.emplace(uid, std::move(lock).value());
  }
  return locks;
}

Status GuardStore::save(uid_t uid, const GuardLock& lock) {
  if (Status made = fs_.createDirectories(dir_); !made.ok()) return made;
  // Root's alone: not even which users hold a lock shows.
  if (::chmod(dir_.c_str(), 0700) != 0) return Status::fromErrno("Can't make " + dir_ + " private");
  return fs_.writeFileAtomically(fileOf(uid), lock.toJson().dump(), 0600);
}

Status GuardStore::remove(uid_t uid) {
  Status removed = fs_.removeFile(fileOf(uid));
  return removed.isNotFound() ? Status::success() : removed;
}

}  // namespace zelto
