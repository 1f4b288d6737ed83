#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <new>

#include "Platform/FileSystem.h"
#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Linux/FileSystemCalls.h"

namespace zelto {

const FileSystemCalls& FileSystemCalls::real() {
  static const FileSystemCalls calls{
      .open = [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); },
      .mkostemp = [](char* pattern, int flags) { return ::mkostemp(pattern, flags); },
      .read = [](int fd, void* buffer, size_t size) { return ::read(fd, buffer, size); },
      .write = [](int fd, const void* data, size_t size) { return ::write(fd, data, size); },
      .fchmod = [](int fd, mode_t mode) { return ::fchmod(fd, mode); },
      .fsync = [](int fd) { return ::fsync(fd); },
      .rename = [](const char* from, const char* to) { return ::rename(from, to); },
      .unlink = [](const char* path) { return ::unlink(path); },
      .stat = [](const char* path, struct stat* st) { return ::stat(path, st); },
      .lstat = [](const char* path, struct stat* st) { return ::lstat(path, st); },
  };
  return calls;
}

namespace {

// "what path: the system's reason".
Status failure(const std::string& what, const std::string& path, int err) {
  return Status::fromErrno(err, what + " " + path);
}

bool writeAll(const FileSystemCalls& calls, int fd, const std::string& contents) {
  const char* data = contents.data();
  size_t left = contents.size();
  while (left > 0) {
    ssize_t n = calls.write(fd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {  // no progress and no reason: stop rather than spin
      errno = EIO;
      return false;
    }
    data += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

FileStatus statusOf(const struct stat& st) {
  FileStatus result;
  if (S_ISREG(st.st_mode)) {
    result.kind = FileStatus::Kind::kRegular;
  } else if (S_ISDIR(st.st_mode)) {
    result.kind = FileStatus::Kind::kDirectory;
  }
  result.size = static_cast<uint64_t>(st.st_size);
  result.modifiedNanoseconds =
      static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
  result.changedNanoseconds =
      static_cast<int64_t>(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
  result.permissions = st.st_mode & 07777;
  result.fileNumber = static_cast<uint64_t>(st.st_ino);
  result.device = static_cast<uint64_t>(st.st_dev);
  return result;
}

namespace {

// Writes `contents` to a new file beside `path` and renames it over `path`; with `flush`, the
// file and then the rename are flushed to disk. On success, when `written` is given, it
// receives what stands at `path` after the rename if that is still the file written here (same
// device and inode), else nothing.
Status replaceAtomically(const FileSystemCalls& calls, const std::string& path,
                         const std::string& contents, uint32_t newFileMode,
                         std::optional<FileStatus>* written, bool flush) {
  if (path.empty()) return Status::failure("No path to write to");
  std::string parent = path::deletingLastComponent(path);
  const std::string directory = parent.empty() ? std::string(".") : std::move(parent);
  std::string name = path::lastComponent(path);
  std::string temp = path::appendingComponent(directory, "." + name + ".XXXXXX");

  // Only a regular file standing at the path lends its mode, less what the new file's mode
  // doesn't grant (a private file that someone opened up is private again): a symbolic link
  // there is replaced, not followed, and its target's mode is none of the new file's business.
  uint32_t mode = newFileMode;
  struct stat existing {};
  if (calls.lstat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
    mode = existing.st_mode & 0777 & newFileMode;
  }

  FileDescriptor fd(calls.mkostemp(temp.data(), O_CLOEXEC));
  if (fd.get() < 0) return failure("Can't create a temporary file for", path, errno);
  auto fail = [&](const std::string& what) {
    int err = errno;
    fd.close();
    calls.unlink(temp.c_str());
    return failure(what, path, err);
  };
  if (calls.fchmod(fd.get(), mode) != 0) return fail("Can't set permissions for");
  if (!writeAll(calls, fd.get(), contents)) return fail("Can't write");
  if (flush && calls.fsync(fd.get()) != 0) return fail("Can't flush");
  Result<struct stat> ours = written != nullptr ? fd.stat() : Status::failure("not asked");
  if (!fd.close()) {
    int err = errno;
    calls.unlink(temp.c_str());
    return failure("Can't close", path, err);
  }
  if (calls.rename(temp.c_str(), path.c_str()) != 0) {
    int err = errno;
    calls.unlink(temp.c_str());
    return failure("Can't replace", path, err);
  }
  if (written != nullptr) {
    // Taken after the rename, which may change the file's change time; a file of another writer
    // renamed over ours in between is told apart by its inode.
    struct stat now {};
    written->reset();
    if (ours.ok() && calls.lstat(path.c_str(), &now) == 0 && now.st_dev == ours->st_dev &&
        now.st_ino == ours->st_ino) {
      *written = statusOf(now);
    }
  }
  if (!flush) return Status::success();
  // Make the rename itself durable.
  FileDescriptor dir(calls.open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (dir.get() >= 0) calls.fsync(dir.get());
  return Status::success();
}

}  // namespace

LocalFileSystem::LocalFileSystem()
    : calls_(std::shared_ptr<const FileSystemCalls>(&FileSystemCalls::real(),
                                                    [](const FileSystemCalls*) {})) {}

LocalFileSystem::LocalFileSystem(const FileSystemCalls& calls)
    : calls_(std::make_shared<const FileSystemCalls>(calls)) {}

Result<FileStatus> LocalFileSystem::inspect(const std::string& path) const {
  if (path.empty()) return Status::notFound("No path to inspect");
  struct stat st {};
  if (calls_->stat(path.c_str(), &st) == 0) return statusOf(st);
  // Only ENOENT and ENOTDIR say that nothing stands there (not-found); anything else leaves the
  // question open.
  return failure("Can't inspect", path, errno);
}

namespace {

// The regular file at `path` opened for reading, with its status in `st`; anything else at the
// path is a failure. O_NONBLOCK so that a FIFO at the path can't hang us; it is refused anyway.
Result<FileDescriptor> openRegularFile(const FileSystemCalls& calls, const std::string& path,
                                       struct stat& st) {
  FileDescriptor fd(calls.open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0));
  if (fd.get() < 0) return failure("Can't open", path, errno);
  Result<struct stat> status = fd.stat();
  if (!status.ok()) return status.status().withContext("Can't inspect " + path);
  st = *status;
  if (!S_ISREG(st.st_mode)) return Status::invalidInput("Not a regular file: " + path);
  return fd;
}

}  // namespace

Result<std::string> LocalFileSystem::readFile(const std::string& path, uint64_t maxBytes) const {
  struct stat st {};
  Result<FileDescriptor> fd = openRegularFile(*calls_, path, st);
  if (!fd.ok()) return fd.status();
  auto tooLarge = [&] {
    return Status::invalidInput("Larger than " + std::to_string(maxBytes) + " bytes: " + path);
  };
  // The size is only a hint: the file may grow or shrink while it is read, so the bound is
  // kept by counting what is read.
  if (static_cast<uint64_t>(st.st_size) > maxBytes) return tooLarge();
  try {
    std::string contents;
    contents.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
      // At most one byte beyond the bound: enough to tell a larger file.
      const uint64_t left = maxBytes - contents.size();
      const size_t ask = left >= sizeof buffer ? sizeof buffer : static_cast<size_t>(left) + 1;
      ssize_t n = calls_->read(fd->get(), buffer, ask);
      if (n < 0) {
        if (errno == EINTR) continue;
        return failure("Can't read", path, errno);
      }
      if (n == 0) break;
      contents.append(buffer, static_cast<size_t>(n));
      if (contents.size() > maxBytes) return tooLarge();
    }
    return contents;
  } catch (const std::bad_alloc&) {
    return Status::failure("Not enough memory to read " + path);
  }
}

Result<std::string> LocalFileSystem::readStart(const std::string& path, size_t bytes) const {
  struct stat st {};
  Result<FileDescriptor> fd = openRegularFile(*calls_, path, st);
  if (!fd.ok()) return fd.status();
  std::string contents(bytes, '\0');
  size_t got = 0;
  while (got < bytes) {
    const ssize_t n = calls_->read(fd->get(), contents.data() + got, bytes - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return failure("Can't read", path, errno);
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  contents.resize(got);
  return contents;
}

namespace {

// replaceAtomically, telling what stands at `path` afterwards.
Result<std::optional<FileStatus>> replaceTelling(const FileSystemCalls& calls,
                                                 const std::string& path,
                                                 const std::string& contents, uint32_t newFileMode,
                                                 bool flush) {
  std::optional<FileStatus> written;
  if (Status replaced = replaceAtomically(calls, path, contents, newFileMode, &written, flush);
      !replaced.ok()) {
    return replaced;
  }
  return written;
}

}  // namespace

Status LocalFileSystem::writeFileAtomically(const std::string& path, const std::string& contents,
                                            uint32_t newFileMode) {
  return replaceAtomically(*calls_, path, contents, newFileMode, nullptr, true);
}

Result<std::optional<FileStatus>> LocalFileSystem::writeFileAtomicallyWithStatus(
    const std::string& path, const std::string& contents, uint32_t newFileMode) {
  return replaceTelling(*calls_, path, contents, newFileMode, true);
}

Result<std::optional<FileStatus>> LocalFileSystem::writeSpareCopy(const std::string& path,
                                                                  const std::string& contents,
                                                                  uint32_t newFileMode) {
  return replaceTelling(*calls_, path, contents, newFileMode, false);
}

Status LocalFileSystem::createDirectories(const std::string& path) {
  if (path.empty()) return Status::failure("No directory path given");
  std::string current;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t next = path.find('/', pos);
    if (next == std::string::npos) next = path.size();
    current = path.substr(0, next);
    pos = next + 1;
    if (current.empty()) continue;  // the root
    if (::mkdir(current.c_str(), 0755) != 0 && errno != EEXIST) {
      return failure("Can't create directory", current, errno);
    }
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return Status::failure("Can't create directory " + path + ": a file stands in the way");
  }
  return Status::success();
}

Status LocalFileSystem::appendToFile(const std::string& path, const std::string& text) {
  FileDescriptor fd(calls_->open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (fd.get() < 0) return failure("Can't open", path, errno);
  if (!writeAll(*calls_, fd.get(), text) || !fd.close())
    return failure("Can't append to", path, errno);
  return Status::success();
}

Status LocalFileSystem::removeFile(const std::string& path) {
  if (calls_->unlink(path.c_str()) != 0) return failure("Can't remove", path, errno);
  return Status::success();
}

Status LocalFileSystem::renameFile(const std::string& from, const std::string& to) {
  if (calls_->rename(from.c_str(), to.c_str()) != 0)
    return failure("Can't move " + from + " to", to, errno);
  return Status::success();
}

Result<std::string> LocalFileSystem::canonicalPath(const std::string& path) const {
  // realpath with no buffer allocates one of the size needed.
  std::unique_ptr<char, decltype(&::free)> resolved(::realpath(path.c_str(), nullptr), &::free);
  if (resolved == nullptr) {
    return Status::fromErrno("Can't resolve " + path);
  }
  return std::string(resolved.get());
}

Result<std::vector<std::string>> LocalFileSystem::listDirectory(const std::string& path) const {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return failure("Can't list", path, errno);
  std::vector<std::string> names;
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

}  // namespace zelto
