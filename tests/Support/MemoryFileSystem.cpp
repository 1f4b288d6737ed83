#include "Support/MemoryFileSystem.h"

namespace zelto::testing {

std::optional<FileStatus> MemoryFileSystem::status(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (directories_.contains(path)) return FileStatus{FileStatus::Kind::kDirectory, 0, 0, 0755, 0};
  auto it = files_.find(path);
  if (it == files_.end()) return std::nullopt;
  return FileStatus{FileStatus::Kind::kRegular, it->second.contents.size(), 0, it->second.mode, 0};
}

Result<std::string> MemoryFileSystem::readFile(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = files_.find(path);
  if (it == files_.end()) return Status::failure("No such file: " + path);
  return it->second.contents;
}

Status MemoryFileSystem::writeFileAtomically(const std::string& path, const std::string& contents,
                                             uint32_t newFileMode) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (failingWrites_.contains(path) || directories_.contains(path) ||
      !directories_.contains(path::deletingLastComponent(path))) {
    return Status::failure("Can't write " + path);
  }
  auto it = files_.find(path);
  uint32_t mode = it == files_.end() ? newFileMode : it->second.mode;
  files_[path] = File{contents, mode};
  ++writes_[path];
  return Status::success();
}

Status MemoryFileSystem::createDirectories(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::string dir = path; !dir.empty() && dir != "/"; dir = path::deletingLastComponent(dir)) {
    if (files_.contains(dir)) return Status::failure("Not a directory: " + dir);
    directories_.insert(dir);
  }
  return Status::success();
}

Status MemoryFileSystem::appendToFile(const std::string& path, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto [it, added] = files_.try_emplace(path, File{"", 0644});
  it->second.contents += text;
  return Status::success();
}

Status MemoryFileSystem::removeFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (failingRemovals_.contains(path) || files_.erase(path) == 0) {
    return Status::failure("Can't remove " + path);
  }
  return Status::success();
}

Status MemoryFileSystem::renameFile(const std::string& from, const std::string& to) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = files_.find(from);
  if (it == files_.end()) return Status::failure("Can't rename " + from);
  File file = std::move(it->second);
  files_.erase(it);
  files_[to] = std::move(file);
  return Status::success();
}

Result<std::vector<std::string>> MemoryFileSystem::listDirectory(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!directories_.contains(path)) return Status::failure("No such directory: " + path);
  std::vector<std::string> names;
  for (const auto& [name, file] : files_) {
    if (path::deletingLastComponent(name) == path) names.push_back(path::lastComponent(name));
  }
  for (const auto& dir : directories_) {
    if (dir != path && path::deletingLastComponent(dir) == path) {
      names.push_back(path::lastComponent(dir));
    }
  }
  return names;
}

void MemoryFileSystem::put(const std::string& path, const std::string& contents) {
  createDirectories(path::deletingLastComponent(path)).ignoreError();
  std::lock_guard<std::mutex> lock(mutex_);
  files_[path] = File{contents, 0644};
}

int MemoryFileSystem::writes(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = writes_.find(path);
  return it == writes_.end() ? 0 : it->second;
}

uint32_t MemoryFileSystem::mode(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = files_.find(path);
  return it == files_.end() ? 0 : it->second.mode;
}

void MemoryFileSystem::failWrites(const std::string& path, bool fail) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fail) {
    failingWrites_.insert(path);
  } else {
    failingWrites_.erase(path);
  }
}

void MemoryFileSystem::failRemovals(const std::string& path, bool fail) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fail) {
    failingRemovals_.insert(path);
  } else {
    failingRemovals_.erase(path);
  }
}

}  // namespace zelto::testing
