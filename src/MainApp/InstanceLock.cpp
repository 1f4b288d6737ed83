#include "MainApp/InstanceLock.h"

#include <unistd.h>

#include <charconv>

#include "App/Data/PageTokens.h"
#include "Platform/Directories.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"
#include "Platform/Linux/LinuxProcessTable.h"
#include "Platform/Log.h"

namespace zelto {

namespace {

// This process's number, beside the lock, for whoever finds the lock held.
void recordSelf(const std::string& record) {
  Status written = Env::fileSystem().writeFileAtomically(record, std::to_string(::getpid()) + "\n",
                                                         FileSystem::kPrivateFileMode);
  if (!written.ok()) log::warning("Can't record this instance: {}", written.message());
}

// Whether the process recorded beside the lock runs this program's executable.
bool recordedHolderIsThisProgram(const std::string& record) {
  Result<std::string> text = Env::fileSystem().readFile(record, 64);
  if (!text.ok()) return false;
  int pid = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), pid);
  if (error != std::errc() || pid <= 0) return false;
  const auto holder = LinuxProcessTable::executableOf(pid);
  const auto self = LinuxProcessTable::executableOf(::getpid());
  return holder && self && holder->path == self->path;
}

}  // namespace

Result<std::string> InstanceLock::lockPath(const Directories& directories, FileSystem& fs) {
  // The folder zeltoctl finds too, for the settings page's tokens.
  Result<std::string> folder = PageTokens::runtimeFolder(directories, fs);
  if (!folder.ok()) return folder;
  return path::appendingComponent(*folder, kFileName);
}

Result<InstanceLock> InstanceLock::acquireAt(const std::string& path) {
  auto lock = FileLock::tryAcquire(path);
  const std::string record = path + kRecordSuffix;
  if (!lock.ok()) {
    if (!lock.status().isBusy()) return lock.status();
    if (recordedHolderIsThisProgram(record)) return InstanceLock(Outcome::kHeldByAnother, path);
    recordSelf(record);
    return InstanceLock(Outcome::kHeldByStranger, path);
  }
  InstanceLock acquired(Outcome::kAcquired, path);
  acquired.lock_.emplace(std::move(*lock));
  recordSelf(record);
  return acquired;
}

}  // namespace zelto
