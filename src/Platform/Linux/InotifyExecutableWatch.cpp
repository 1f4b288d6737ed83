#include "Platform/Linux/InotifyExecutableWatch.h"

#include <sys/inotify.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <vector>

#include "Platform/Linux/InotifyReader.h"
#include "Platform/Log.h"

namespace zelto {

Status InotifyExecutableWatch::watch(const std::vector<std::string>& executables, Callback onOpen) {
  if (!failure_.empty()) return Status::failure(failure_);
  onOpen_ = std::move(onOpen);
  std::set<std::string> wanted(executables.begin(), executables.end());
  for (auto it = watched_.begin(); it != watched_.end();) {
    if (wanted.contains(it->first)) {
      ++it;
      continue;
    }
    ::inotify_rm_watch(inotify_.get(), it->second);
    it = watched_.erase(it);
  }
  if (wanted.empty()) return Status::success();
  if (!inotify_.valid()) {
    Status listening = startListening();
    if (!listening.ok()) return listening;
  }
  for (const auto& path : wanted) add(path);
  return Status::success();
}

void InotifyExecutableWatch::clear() {
  for (const auto& [path, wd] : watched_) ::inotify_rm_watch(inotify_.get(), wd);
  watched_.clear();
  onOpen_ = nullptr;
}

Status InotifyExecutableWatch::startListening() {
  inotify_.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  Status status;
  if (!inotify_.valid()) {
    status = Status::fromErrno("inotify");
  } else if (auto readable = loop_.watchReadable(inotify_.get(), [this] { readEvents(); });
             readable.ok()) {
    readable_ = std::move(*readable);
    return Status::success();
  } else {
    status = readable.status();
  }
  stopListening();
  failure_ = status.message();
  return status;
}

void InotifyExecutableWatch::stopListening() {
  readable_.reset();
  watched_.clear();
  inotify_.reset();
}

void InotifyExecutableWatch::add(const std::string& path) {
  if (watched_.contains(path)) return;
  int wd = ::inotify_add_watch(inotify_.get(), path.c_str(),
                               IN_OPEN | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF);
  if (wd < 0) {
    log::debug("Not watching {} for starts: {}", path, std::strerror(errno));
    return;
  }
  watched_[path] = wd;
}

void InotifyExecutableWatch::readNow(const std::string& ownExec) {
  if (!inotify_.valid()) return;
  auto own = watched_.find(ownExec);
  readEvents(own != watched_.end() ? own->second : -1);
}

void InotifyExecutableWatch::readEvents(int ownExec) {
  bool opened = false;
  std::set<int> moved;
  Status read = InotifyReader::drain(inotify_.get(), [&](const inotify_event& event) {
    uint32_t mask = event.mask;
    if ((mask & IN_OPEN) && event.wd == ownExec) {
      mask &= ~static_cast<uint32_t>(IN_OPEN);  // that exec opens its file once
      ownExec = -1;
    }
    if (mask & (IN_OPEN | IN_Q_OVERFLOW)) opened = true;
    if (mask & (IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
      moved.insert(event.wd);
    }
  });
  if (!read.ok()) {
    failure_ = read.message();
    log::warning("{}: {}", unwatchedLine_, failure_);
    stopListening();
  } else if (!moved.empty()) {
    std::vector<std::string> paths;
    for (auto it = watched_.begin(); it != watched_.end();) {
      if (moved.contains(it->second)) {
        paths.push_back(it->first);
        it = watched_.erase(it);
      } else {
        ++it;
      }
    }
    for (int wd : moved) ::inotify_rm_watch(inotify_.get(), wd);  // an ended one just fails
    for (const auto& path : paths) add(path);
  }
  // The callback may replace or clear the watch: called last, from a copy.
  if (opened && onOpen_) {
    Callback onOpen = onOpen_;
    onOpen();
  }
}

}  // namespace zelto
