#include "Platform/Linux/InotifyFileWatcher.h"

#include <errno.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Linux/InotifyReader.h"
#include "Platform/Log.h"

namespace zelto {

namespace {

namespace fs = std::filesystem;

// IN_ATTRIB: a change of permissions can make a file that couldn't be read readable again.
constexpr uint32_t kFileMask = IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ATTRIB;
constexpr uint32_t kDirSelfMask = IN_DELETE_SELF | IN_MOVE_SELF;
// The file's own directory: its name appearing, going or changing permissions, and the
// directory's own permissions changing.
constexpr uint32_t kParentMask =
    IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_ATTRIB | kDirSelfMask | IN_ONLYDIR;
// A further ancestor, while the directories below it are missing or can't be watched: the next
// one appearing or changing permissions.
constexpr uint32_t kAncestorMask = IN_CREATE | IN_MOVED_TO | IN_ATTRIB | kDirSelfMask | IN_ONLYDIR;
// A directory that keeps appearing and vanishing while the watch arms could otherwise keep it
// busy; past this many rounds the watch stays on what it has and the next event re-arms it.
constexpr int kMaxArmRounds = 16;

bool isMissing(int error) { return error == ENOENT || error == ENOTDIR; }

// Which file stands at the path: the same device and inode number means the same file.
struct FileIdentity {
  bool present = false;
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

FileIdentity identityOf(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return {};
  return {true, status.st_dev, status.st_ino};
}

bool isDirectory(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

struct WatchState {
  FileDescriptor fd;
  std::string path;
  // dirs[0] is the file's directory, then each ancestor up to the root; names[i] is the entry
  // awaited in dirs[i] (the file's name in dirs[0], the next directory's name further up).
  std::vector<std::string> dirs;
  std::vector<std::string> names;
  int fileWd = -1;
  int dirWd = -1;
  size_t dirLevel = 0;
  FileIdentity file;  // what stood at the path when the watch was last armed
  std::function<void()> callback;
  std::unique_ptr<Registration> readable;  // ended before fd closes

  ~WatchState() { close(); }

  void close() {
    readable.reset();
    fd.reset();
    callback = nullptr;
  }

  void replaceDirWatch(int wd, size_t level) {
    if (dirWd >= 0 && dirWd != wd) ::inotify_rm_watch(fd.get(), dirWd);  // may be gone already
    dirWd = wd;
    dirLevel = level;
  }

  void replaceFileWatch(int wd) {
    if (fileWd >= 0 && fileWd != wd) ::inotify_rm_watch(fd.get(), fileWd);
    fileWd = wd;
  }

  // Watches whatever stands at the path now: the directory first, then the file, so a file
  // created in between is still seen (as an event of the directory).
  void arm() {
    armWatches();
    file = dirLevel == 0 && dirWd >= 0 ? identityOf(path) : FileIdentity{};
  }

  void armWatches() {
    for (int round = 0; round < kMaxArmRounds; ++round) {
      size_t level = 0;
      int wd = -1;
      bool denied = false;  // the last directory below `level` exists but refuses a watch
      for (; level < dirs.size(); ++level) {
        wd = ::inotify_add_watch(fd.get(), dirs[level].c_str(),
                                 level == 0 ? kParentMask : kAncestorMask);
        // A missing directory sends us up, and so does one we may not read: its parent tells
        // when its permissions change.
        if (wd >= 0 || !(isMissing(errno) || errno == EACCES)) break;
        denied = errno == EACCES;
      }
      if (wd < 0) {
        // A directory that exists but cannot be watched (no permission, no watches left): the
        // watch has nothing to listen to until the next event re-arms it.
        log::warning("Cannot watch {}: {}", path,
                     level < dirs.size() ? std::strerror(errno) : "no directory on its way");
        replaceDirWatch(-1, 0);
        replaceFileWatch(-1);
        return;
      }
      replaceDirWatch(wd, level);
      if (level > 0) {
        replaceFileWatch(-1);
        // The awaited directory may have appeared before the ancestor's watch began.
        if (!denied && isDirectory(dirs[level - 1])) continue;
        return;
      }
      int fileWatch = ::inotify_add_watch(fd.get(), path.c_str(), kFileMask);
      if (fileWatch < 0 && !isMissing(errno)) {
        log::warning("Cannot watch file {}: {}", path, std::strerror(errno));
      }
      replaceFileWatch(fileWatch < 0 ? -1 : fileWatch);
      return;
    }
  }

  // Reads every pending event and re-arms when the path may now hold another file. Returns
  // whether the file at the path changed: an event of the watched file, a file arriving at the
  // path, or another file (or none) standing there now. A file's removal can arrive in two
  // reads (its own event, then its directory's); the second finds the path empty before and
  // after, and does not count again.
  bool readBatch() {
    bool changed = false;
    bool rearm = false;
    const FileIdentity before = file;
    Status read = InotifyReader::drain(fd.get(), [&](const inotify_event& event) {
      if (event.wd == -1) {  // the queue overflowed: anything may have happened
        changed = rearm = true;
      } else if (event.wd == fileWd) {
        changed = rearm = true;
      } else if (event.wd == dirWd) {
        if (event.mask & (kDirSelfMask | IN_IGNORED | IN_UNMOUNT)) {
          rearm = true;
        } else if (event.len == 0) {
          // The directory's own permissions: the file may have become readable or unreadable.
          // No re-arm, which a directory we may no longer read would refuse.
          if (dirLevel == 0 && (event.mask & IN_ATTRIB)) changed = true;
        } else if (names[dirLevel] == event.name) {
          rearm = true;
          if (dirLevel == 0 && (event.mask & (IN_CREATE | IN_MOVED_TO | IN_ATTRIB))) changed = true;
        }
      }
      // Anything else belongs to a watch already replaced.
    });
    if (!read.ok()) {
      // Nothing sensible can be read any more: stop listening rather than wake up forever.
      log::warning("Stopped watching {}: {}", path, read.message());
      readable.reset();
    }
    if (rearm) arm();
    return changed || !(file == before);
  }
};

class InotifyWatch final : public Registration {
 public:
  explicit InotifyWatch(std::shared_ptr<WatchState> state) : state_(std::move(state)) {}
  ~InotifyWatch() override { cancel(); }

  void cancel() override {
    if (state_ == nullptr) return;
    state_->close();
    state_ = nullptr;
  }

 private:
  std::shared_ptr<WatchState> state_;
};

void onReadable(const std::weak_ptr<WatchState>& weak) {
  std::shared_ptr<WatchState> state = weak.lock();  // alive until this returns
  if (state == nullptr || !state->fd.valid()) return;
  if (!state->readBatch()) return;
  std::function<void()> callback = state->callback;  // the callback may cancel its own watch
  if (callback) callback();
}

}  // namespace

std::unique_ptr<Registration> InotifyFileWatcher::watch(const std::string& path,
                                                        std::function<void()> callback) {
  auto state = std::make_shared<WatchState>();
  std::error_code error;
  fs::path file = path.empty() ? fs::path() : fs::absolute(path, error).lexically_normal();
  std::string name = file.filename().string();
  if (error || name.empty() || name == "." || name == "..") {
    log::warning("Cannot watch {}: not a path to a file", path);
    return std::make_unique<InotifyWatch>(std::move(state));
  }
  state->path = file.string();
  for (fs::path dir = file.parent_path();; dir = dir.parent_path()) {
    state->dirs.push_back(dir.string());
    state->names.push_back(name);
    name = dir.filename().string();
    if (dir == dir.parent_path() || name.empty()) break;
  }
  state->callback = std::move(callback);
  state->fd.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!state->fd.valid()) {
    log::warning("Cannot watch {}: {}", state->path, std::strerror(errno));
    return std::make_unique<InotifyWatch>(std::move(state));
  }
  state->arm();
  std::weak_ptr<WatchState> weak = state;
  auto readable = loop_.watchReadable(state->fd.get(), [weak] { onReadable(weak); });
  if (readable.ok()) {
    state->readable = std::move(*readable);
  } else {
    log::warning("Cannot watch {}: {}", state->path, readable.status().message());
  }
  return std::make_unique<InotifyWatch>(std::move(state));
}

}  // namespace zelto
