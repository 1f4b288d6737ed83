#include "MainApp/InstanceLock.h"

#include "Platform/Directories.h"
#include "Platform/FileSystem.h"

namespace zelto {

Result<std::string> InstanceLock::lockPath(const Directories& directories, FileSystem& fs) {
  if (auto runtime = directories.runtimeDirectory(); runtime && fs.isDirectory(*runtime)) {
    return path::appendingComponent(*runtime, kFileName);
  }
  auto caches = directories.cachesDirectory();
  if (!caches) return Status::failure("The home directory of the current user is unknown");
  if (!fs.isDirectory(*caches)) {
    if (Status created = fs.createDirectories(*caches); !created.ok()) return created;
  }
  return path::appendingComponent(*caches, kFileName);
}

InstanceLock InstanceLock::acquire(const Directories& directories, FileSystem& fs) {
  auto path = lockPath(directories, fs);
  if (!path.ok()) return InstanceLock(Outcome::kFailed, {}, path.status().message());
  return acquireAt(*path);
}

InstanceLock InstanceLock::acquireAt(const std::string& path) {
  auto lock = FileLock::tryAcquire(path);
  if (!lock.ok()) return InstanceLock(Outcome::kFailed, path, lock.status().message());
  if (!lock->has_value()) return InstanceLock(Outcome::kHeldByAnother, path);
  InstanceLock acquired(Outcome::kAcquired, path);
  acquired.lock_ = std::move(*lock);
  return acquired;
}

}  // namespace zelto
