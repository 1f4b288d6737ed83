#include "Guard/SystemFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "Guard/BrowserPolicies.h"
#include "Guard/HostsSection.h"
#include "Platform/FileSystem.h"
#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Log.h"

namespace zelto {
namespace {

constexpr mode_t kPublicFile = 0644;
constexpr mode_t kPublicFolder = 0755;
constexpr mode_t kPrivateFolder = 0700;
constexpr std::string_view kOriginalsFolder = "original-files";
constexpr std::string_view kFirefoxOriginal = "firefox-policies.json";
constexpr std::string_view kNoFirefoxOriginal = "firefox-policies.json.none";
constexpr std::string_view kMadeFolders = "made-folders";  // one system path a line

// A folder opened for the *at calls, with its path for messages.
struct Folder {
  FileDescriptor fd;
  std::string path;

  std::string pathOf(std::string_view name) const { return path + "/" + std::string(name); }
};

// The folder `systemFolder` under `root`, opened one component at a time without following
// links; missing ones are made with `mode` when `create`. The root itself is trusted; below it,
// a link, or a folder that anyone but root (or this process's user) owns or that others may
// write to, is refused. Not found when a component is missing and not made. The system paths of
// the folders made are added to `made`.
Result<Folder> openFolder(const GuardPaths& paths, std::string_view systemFolder, bool create,
                          mode_t mode, std::vector<std::string>* made = nullptr) {
  std::string system;
  Folder folder;
  folder.path = paths.root.empty() ? "/" : paths.root;
  folder.fd.reset(::open(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.fd.valid()) return Status::fromErrno("Can't open " + folder.path);
  if (folder.path.ends_with('/')) folder.path.pop_back();
  for (size_t at = 0; at < systemFolder.size();) {
    const size_t slash = std::min(systemFolder.find('/', at), systemFolder.size());
    const std::string name(systemFolder.substr(at, slash - at));
    at = slash + 1;
    if (name.empty() || name == ".") continue;
    const std::string path = folder.path + "/" + name;
    system += "/" + name;
    if (name == "..") return Status::invalidInput("No \"..\" is followed: " + path);
    auto openNext = [&] {
      return ::openat(folder.fd.get(), name.c_str(),
                      O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    };
    int next = openNext();
    if (next < 0 && errno == ENOENT && create) {
      if (::mkdirat(folder.fd.get(), name.c_str(), mode) == 0) {
        if (made != nullptr) made->push_back(system);
      } else if (errno != EEXIST) {
        return Status::fromErrno("Can't make the folder " + path);
      }
      next = openNext();
    }
    if (next < 0 && (errno == ELOOP || errno == ENOTDIR))
      return Status::invalidInput(path + " is a symbolic link or no folder: left alone");
    if (next < 0) return Status::fromErrno("Can't open the folder " + path);
    FileDescriptor opened(next);
    Result<struct stat> info = opened.stat();
    if (!info.ok()) return info.status().withContext("Can't inspect " + path);
    if ((info->st_uid != 0 && info->st_uid != ::geteuid()) || (info->st_mode & 022) != 0)
      return Status::permissionDenied(path + " may be changed by other users: left alone");
    folder.fd = std::move(opened);
    folder.path = path;
  }
  return folder;
}

struct FileRead {
  std::string bytes;
  mode_t mode = 0;
  uid_t owner = 0;
};

// The regular file `name` in `folder`, never through a link; nothing when there is none, or
// when a link stands there and `linkIsNothing` (a name of the guard's own, which a new file
// replaces: the link itself, never what it points to).
Result<std::optional<FileRead>> readFile(const Folder& folder, std::string_view name,
                                         uint64_t maxBytes, bool linkIsNothing = false) {
  const std::string path = folder.pathOf(name);
  FileDescriptor file(::openat(folder.fd.get(), std::string(name).c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file.valid() && (errno == ENOENT || (errno == ELOOP && linkIsNothing)))
    return std::optional<FileRead>();
  if (!file.valid() && errno == ELOOP)
    return Status::invalidInput(path + " is a symbolic link: left alone");
  if (!file.valid()) return Status::fromErrno("Can't read " + path);
  Result<struct stat> info = file.stat();
  if (!info.ok()) return info.status().withContext("Can't inspect " + path);
  if (!S_ISREG(info->st_mode)) return Status::invalidInput(path + " is no regular file");
  FileRead read;
  read.mode = static_cast<mode_t>(info->st_mode & 07777);
  read.owner = info->st_uid;
  char buffer[64 * 1024];
  for (;;) {
    Result<size_t> got = file.read(buffer, sizeof buffer);
    if (!got.ok()) return got.status().withContext("Can't read " + path);
    if (*got == 0) break;
    read.bytes.append(buffer, *got);
    if (read.bytes.size() > maxBytes)
      return Status::invalidInput(path + " is larger than " + std::to_string(maxBytes) + " bytes");
  }
  return std::optional<FileRead>(std::move(read));
}

// Writes `bytes` over the file `name` in place: for a file that can't be replaced.
Status rewriteInPlace(const Folder& folder, std::string_view name, std::string_view bytes) {
  const std::string path = folder.pathOf(name);
  FileDescriptor file(
      ::openat(folder.fd.get(), std::string(name).c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!file.valid()) return Status::fromErrno("Can't write " + path);
  Result<struct stat> info = file.stat();
  if (!info.ok() || !S_ISREG(info->st_mode))
    return Status::invalidInput(path + " is no regular file");
  // The new text over the old, then the end cut: no moment with an empty file.
  Status written = file.writeAll(bytes);
  if (written.ok() && ::ftruncate(file.get(), static_cast<off_t>(bytes.size())) != 0)
    written = Status::fromErrno("Can't cut " + path);
  if (written.ok() && ::fsync(file.get()) != 0) written = Status::fromErrno("Can't flush " + path);
  return written.withContext("Can't write " + path);
}

// Replaces the file `name` in `folder` with `bytes` and `mode`: a new file renamed over it.
Status writeFile(const Folder& folder, std::string_view name, std::string_view bytes, mode_t mode) {
  const std::string path = folder.pathOf(name);
  const std::string temporary = "." + std::string(name) + ".zelto-guard-new";
  ::unlinkat(folder.fd.get(), temporary.c_str(), 0);  // a leftover of an interrupted write
  FileDescriptor file(::openat(folder.fd.get(), temporary.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!file.valid()) return Status::fromErrno("Can't write " + folder.pathOf(temporary));
  Status written = file.writeAll(bytes);
  if (written.ok() && ::fchmod(file.get(), mode) != 0) written = Status::fromErrno("chmod");
  if (written.ok() && ::fsync(file.get()) != 0) written = Status::fromErrno("fsync");
  if (!written.ok() || !file.close()) {
    ::unlinkat(folder.fd.get(), temporary.c_str(), 0);
    return (written.ok() ? Status::ioError("close failed") : written)
        .withContext("Can't write " + path);
  }
  if (::renameat(folder.fd.get(), temporary.c_str(), folder.fd.get(), std::string(name).c_str()) !=
      0) {
    const int error = errno;
    ::unlinkat(folder.fd.get(), temporary.c_str(), 0);
    // A file mounted over the path can't be replaced, only rewritten.
    if (error == EBUSY) return rewriteInPlace(folder, name, bytes);
    return Status::fromErrno(error, "Can't replace " + path);
  }
  // The rename is done; a folder that can't be flushed only makes it less sure to outlast a crash.
  if (::fsync(folder.fd.get()) != 0)
    log::warning("Can't flush the folder {}: {}", folder.path, std::strerror(errno));
  return Status::success();
}

Status removeFile(const Folder& folder, std::string_view name) {
  if (::unlinkat(folder.fd.get(), std::string(name).c_str(), 0) != 0 && errno != ENOENT)
    return Status::fromErrno("Can't remove " + folder.pathOf(name));
  return Status::success();
}

// The folder, or nothing when it (or one above it) doesn't exist.
Result<std::optional<Folder>> existingFolder(const GuardPaths& paths, std::string_view system) {
  Result<Folder> folder = openFolder(paths, system, false, 0);
  if (folder.status().isNotFound()) return std::optional<Folder>();
  if (!folder.ok()) return folder.status();
  return std::optional<Folder>(std::move(*folder));
}

// The system path of a path under the root.
std::string systemPathOf(const GuardPaths& paths, const std::string& underRoot) {
  return underRoot.substr(paths.under("/").size() - 1);
}

}  // namespace

SystemFiles::SystemFiles(RunLoop& loop, FileWatcher& watcher, const Clock& clock, GuardPaths paths)
    : loop_(loop), watcher_(watcher), clock_(clock), paths_(std::move(paths)) {
  targets_.push_back({Kind::kHosts, "/etc", "hosts"});
  for (const std::string& folder : BrowserPolicies::chromiumPolicyFolders())
    targets_.push_back({Kind::kChromium, folder, BrowserPolicies::kChromiumFileName});
  const std::string& firefox = BrowserPolicies::firefoxPolicyFile();
  targets_.push_back(
      {Kind::kFirefox, path::deletingLastComponent(firefox), path::lastComponent(firefox)});
}

SystemFiles::~SystemFiles() = default;

std::vector<std::string> SystemFiles::paths() const {
  std::vector<std::string> out;
  for (const Target& target : targets_)
    out.push_back(paths_.under(target.folder + "/" + target.name));
  return out;
}

Status SystemFiles::apply(const Enforcement& enforcement) {
  if (enforcement.empty()) return clear();
  held_ = enforcement;
  if (watches_.empty()) {
    const std::vector<std::string> files = paths();
    for (size_t i = 0; i < files.size(); ++i)
      watches_.push_back(watcher_.watch(files[i], [this, i] { onChanged(i); }));
  }
  return holdAll(false);
}

Status SystemFiles::clear() {
  watches_.clear();
  retry_.reset();
  held_.reset();
  failing_.clear();
  Status first;
  for (const Target& target : targets_) {
    Status released = release(target);
    if (!released.ok()) {
      log::error("{}", released.message());
      if (first.ok()) first = released;
    }
  }
  if (first.ok()) first = removeMadeFolders();
  return first;
}

std::string SystemFiles::originalsFolder() const {
  return systemPathOf(paths_, paths_.stateDir()) + "/" + std::string(kOriginalsFolder);
}

Status SystemFiles::noteMadeFolders(const std::vector<std::string>& made) {
  Result<Folder> originals = openFolder(paths_, originalsFolder(), true, kPrivateFolder);
  if (!originals.ok()) return originals.status();
  Result<std::optional<FileRead>> record = readFile(*originals, kMadeFolders, kMaxFileBytes);
  if (!record.ok()) return record.status();
  std::string text = *record ? (*record)->bytes : "";
  for (const std::string& folder : made) text += folder + "\n";
  return writeFile(*originals, kMadeFolders, text, 0600);
}

Status SystemFiles::removeMadeFolders() {
  Result<std::optional<Folder>> originals = existingFolder(paths_, originalsFolder());
  if (!originals.ok() || !*originals) return originals.status();
  Result<std::optional<FileRead>> record = readFile(**originals, kMadeFolders, kMaxFileBytes);
  if (!record.ok() || !*record) return record.status();
  std::vector<std::string> folders;
  for (size_t at = 0; at < (*record)->bytes.size();) {
    const size_t end = std::min((*record)->bytes.find('\n', at), (*record)->bytes.size());
    if (end > at) folders.push_back((*record)->bytes.substr(at, end - at));
    at = end + 1;
  }
  // The deepest first; one that holds anything now (someone else's files) stays.
  std::sort(folders.begin(), folders.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& folder : folders) {
    Result<std::optional<Folder>> parent =
        existingFolder(paths_, path::deletingLastComponent(folder));
    if (!parent.ok() || !*parent) continue;
    const std::string name = path::lastComponent(folder);
    if (::unlinkat((*parent)->fd.get(), name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT &&
        errno != ENOTEMPTY && errno != EEXIST)
      log::warning("Can't remove the folder {}: {}", (*parent)->pathOf(name), std::strerror(errno));
  }
  return removeFile(**originals, kMadeFolders);
}

Status SystemFiles::holdAll(bool repairing) {
  Status first;
  for (const Target& target : targets_) {
    Status held = hold(target, repairing);
    report(target, held);
    if (!held.ok() && first.ok()) first = held;
  }
  if (first.ok()) {
    retry_.reset();
    retryDelay_ = kRetrySeconds;
  } else {
    retryLater();
  }
  return first;
}

Result<std::optional<std::string>> SystemFiles::firefoxOriginal() {
  Result<Folder> originals = openFolder(paths_, originalsFolder(), true, kPrivateFolder);
  if (!originals.ok()) return originals.status();
  Result<std::optional<FileRead>> copy = readFile(*originals, kFirefoxOriginal, kMaxFileBytes);
  if (!copy.ok()) return copy.status();
  if (*copy) return std::optional<std::string>((*copy)->bytes);
  Result<std::optional<FileRead>> none = readFile(*originals, kNoFirefoxOriginal, 0);
  if (!none.ok()) return none.status();
  if (!*none) {
    // The first write: the file as it is now is what comes back at the end.
    const std::string& system = BrowserPolicies::firefoxPolicyFile();
    Result<std::optional<Folder>> folder =
        existingFolder(paths_, path::deletingLastComponent(system));
    if (!folder.ok()) return folder.status();
    std::optional<FileRead> current;
    if (*folder) {
      Result<std::optional<FileRead>> read =
          readFile(**folder, path::lastComponent(system), kMaxFileBytes);
      if (!read.ok()) return read.status();
      current = std::move(*read);
    }
    Status kept = current ? writeFile(*originals, kFirefoxOriginal, current->bytes, current->mode)
                          : writeFile(*originals, kNoFirefoxOriginal, "", 0600);
    if (!kept.ok()) return kept;
    if (current) return std::optional<std::string>(current->bytes);
  }
  // There was none: the installation's own policies, which the system-wide file hides.
  for (const std::string& file : BrowserPolicies::firefoxDistributionFiles()) {
    Result<std::optional<Folder>> folder =
        existingFolder(paths_, path::deletingLastComponent(file));
    if (!folder.ok() || !*folder) continue;
    Result<std::optional<FileRead>> read =
        readFile(**folder, path::lastComponent(file), kMaxFileBytes);
    if (read.ok() && *read) return std::optional<std::string>((*read)->bytes);
  }
  return std::optional<std::string>();
}

Status SystemFiles::hold(const Target& target, bool repairing) {
  if (!held_) return Status::success();
  std::vector<std::string> made;
  Result<Folder> folder = openFolder(paths_, target.folder, true, kPublicFolder, &made);
  if (!made.empty()) {
    // Kept so that `clear` takes them out again; one that isn't is only an empty folder.
    if (Status noted = noteMadeFolders(made); !noted.ok()) log::error("{}", noted.message());
  }
  if (!folder.ok()) return folder.status();
  Result<std::optional<FileRead>> current =
      readFile(*folder, target.name, kMaxFileBytes, target.kind == Kind::kChromium);
  if (!current.ok()) return current.status();

  std::string wanted;
  mode_t mode = kPublicFile;
  switch (target.kind) {
    case Kind::kHosts:
      wanted = HostsSection::withSection(*current ? (*current)->bytes : "", held_->hosts);
      if (!*current && wanted.empty()) return Status::success();
      if (*current) mode = (*current)->mode;  // the administrator's choice
      break;
    case Kind::kChromium:
      wanted = BrowserPolicies::chromium(*held_);
      break;
    case Kind::kFirefox: {
      Result<std::optional<std::string>> original = firefoxOriginal();
      if (!original.ok()) return original.status().withContext("Firefox's policies not written");
      wanted = BrowserPolicies::firefox(*held_, *original);
      break;
    }
  }
  if (*current && (*current)->bytes == wanted && (*current)->mode == mode &&
      ((*current)->owner == ::geteuid() || target.kind == Kind::kHosts))
    return Status::success();
  Status written = writeFile(*folder, target.name, wanted, mode);
  if (written.ok() && repairing) noteRepair(folder->pathOf(target.name));
  return written;
}

Status SystemFiles::release(const Target& target) {
  Result<std::optional<Folder>> folder = existingFolder(paths_, target.folder);
  if (!folder.ok()) return folder.status();
  switch (target.kind) {
    case Kind::kHosts: {
      if (!*folder) return Status::success();
      Result<std::optional<FileRead>> current = readFile(**folder, target.name, kMaxFileBytes);
      if (!current.ok()) return current.status();
      if (!*current) return Status::success();
      const std::string without = HostsSection::withoutSection((*current)->bytes);
      if (without == (*current)->bytes) return Status::success();
      return writeFile(**folder, target.name, without, (*current)->mode);
    }
    case Kind::kChromium:
      return *folder ? removeFile(**folder, target.name) : Status::success();
    case Kind::kFirefox: {
      Result<std::optional<Folder>> originals = existingFolder(paths_, originalsFolder());
      if (!originals.ok()) return originals.status();
      if (!*originals) return Status::success();  // the guard never wrote it
      Result<std::optional<FileRead>> copy = readFile(**originals, kFirefoxOriginal, kMaxFileBytes);
      if (!copy.ok()) return copy.status();
      Status put = Status::success();
      if (*copy) {
        Result<Folder> made = openFolder(paths_, target.folder, true, kPublicFolder);
        if (!made.ok()) return made.status();
        put = writeFile(*made, target.name, (*copy)->bytes, (*copy)->mode);
      } else if (Result<std::optional<FileRead>> none =
                     readFile(**originals, kNoFirefoxOriginal, 0);
                 !none.ok() || !*none) {
        return none.status();  // nothing kept: the guard never wrote it
      } else if (*folder) {
        put = removeFile(**folder, target.name);
      }
      if (!put.ok()) return put;
      // Put back: the copy is done with.
      Status dropped = removeFile(**originals, kFirefoxOriginal);
      if (dropped.ok()) dropped = removeFile(**originals, kNoFirefoxOriginal);
      return dropped;
    }
  }
  return Status::success();
}

void SystemFiles::onChanged(size_t index) {
  if (!held_ || index >= targets_.size()) return;
  Status held = hold(targets_[index], true);
  report(targets_[index], held);
  if (!held.ok()) retryLater();
}

void SystemFiles::noteRepair(const std::string& path) {
  const double now = clock_.monotonicSeconds();
  auto last = lastRepair_.find(path);
  if (last == lastRepair_.end() || now - last->second >= kEpisodeSeconds)
    log::warning("Repaired {}: it was changed while a lock runs", path);
  lastRepair_[path] = now;
}

void SystemFiles::retryLater() {
  if (retry_) return;
  retry_ = loop_.addTimer(retryDelay_, 0, [this] {
    retry_.reset();
    retryDelay_ = std::min(retryDelay_ * 2, kLongestRetrySeconds);
    holdAll(false).ignoreError();  // (failures are reported as they happen)
  });
}

void SystemFiles::report(const Target& target, const Status& status) {
  const std::string key = target.folder + "/" + target.name;
  if (status.ok()) {
    failing_.erase(key);
    return;
  }
  // Once per failure, not once per retry.
  auto [entry, added] = failing_.emplace(key, status.message());
  if (!added && entry->second == status.message()) return;
  entry->second = status.message();
  log::error("{}", status.message());
}

}  // namespace zelto
