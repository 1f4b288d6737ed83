// FileSystem: the file operations the rest of the program needs, behind one narrow interface.
//
// Paths are plain UTF-8 texts. Operations that can fail return a Status or a Result whose
// failure carries a one-line reason (the system's message, naming the path) and the kind the
// system's error gives it. Nothing standing at a path is a not-found failure (isNotFound()), told
// apart from a path that can't be inspected (no permission on the way, a loop of links, an I/O
// error); callers to whom both mean the same take `inspect(path).toOptional()`.
// LocalFileSystem is the real one; tests may wrap it, or give it failing system calls
// (FileSystemCalls), to inject faults.
//
// Thread safety: every operation may be called from any thread; the file system itself is the
// only shared state.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Status.h"

namespace zelto {

struct FileStatus {
  enum class Kind { kRegular, kDirectory, kOther };
  Kind kind = Kind::kOther;
  uint64_t size = 0;
  int64_t modifiedNanoseconds = 0;  // since 1970
  uint32_t permissions = 0;         // the mode's permission bits
  uint64_t fileNumber = 0;          // the inode: a file replaced by a rename gets a new one
  uint64_t device = 0;              // the file system the inode number belongs to
  int64_t changedNanoseconds = 0;   // the last change of content or attributes, since 1970

  // The same version of the same file: same file system and inode, same kind, size and
  // permission bits, same modification and change times. A rewrite in place, a replacement, a
  // change of permissions or owner all make another version; a rewrite in place that keeps the
  // size within one tick of the file system's clock can still look the same.
  bool isSameVersionAs(const FileStatus& other) const {
    return device == other.device && fileNumber == other.fileNumber && kind == other.kind &&
           size == other.size && permissions == other.permissions &&
           modifiedNanoseconds == other.modifiedNanoseconds &&
           changedNanoseconds == other.changedNanoseconds;
  }
};

// Nothing at the path both times, or the same version of a file (see isSameVersionAs).
inline bool isSameFileVersion(const std::optional<FileStatus>& a,
                              const std::optional<FileStatus>& b) {
  if (!a || !b) return !a && !b;
  return a->isSameVersionAs(*b);
}

class FileSystem {
 public:
  // The mode of a file that writeFileAtomically creates when nothing else is asked for: only
  // the owner may read and write it.
  static constexpr uint32_t kPrivateFileMode = 0600;
  // The most a small file of the program's own is read to: a resource text, a script, an
  // Info.plist. Every such file is a few kilobytes at most.
  static constexpr uint64_t kMaxResourceBytes = 1024 * 1024;

  virtual ~FileSystem() = default;

  // The status of whatever stands at `path` (links followed): a not-found failure when there is
  // nothing (no such entry, an empty path, or a component on the way that is no directory);
  // another failure when the path can't be inspected.
  virtual Result<FileStatus> inspect(const std::string& path) const = 0;

  // Reads a regular file whole. Anything else at the path (a directory, a FIFO, a device) is a
  // failure, and reading never blocks on it. A file of more than `maxBytes` bytes is a failure
  // too, told by reading (at most maxBytes + 1 bytes), whatever size the file claims; each
  // caller bounds its kind of file (see kMaxResourceBytes).
  virtual Result<std::string> readFile(const std::string& path, uint64_t maxBytes) const = 0;
  // The first `bytes` bytes of a regular file, or all of a shorter one; whatever its size.
  // Anything else at the path is a failure, as for readFile.
  virtual Result<std::string> readStart(const std::string& path, size_t bytes) const = 0;

  // Replaces `path` with `contents` atomically: a new file in the same directory, written whole
  // and flushed to disk, then renamed over the target. The target keeps its permission bits,
  // less those `newFileMode` lacks (a private file made readable by others is private again); a
  // new file gets `newFileMode`. On failure the old file stays as it was and nothing is left
  // behind.
  virtual Status writeFileAtomically(const std::string& path, const std::string& contents,
                                     uint32_t newFileMode) = 0;

  // The same, and on success the status of the file written as it stands at `path` right after
  // the rename: nothing when that can't be told (another writer's file already replaced it, or
  // the file system can't say), never another writer's file. The base class tells nothing.
  virtual Result<std::optional<FileStatus>> writeFileAtomicallyWithStatus(
      const std::string& path, const std::string& contents, uint32_t newFileMode) {
    Status written = writeFileAtomically(path, contents, newFileMode);
    if (!written.ok()) return written;
    return std::optional<FileStatus>();
  }

  // The same for a spare copy of data that is kept elsewhere too (a backup, the last good
  // configuration): replaced atomically, so a reader finds the old copy or the new one whole,
  // but not flushed to disk first, so a save waits for the disk once, for its own file. After a
  // crash the copy may be the one before, or on some file systems empty: its readers take it
  // for possibly unusable anyway. The base class writes it as any other file.
  virtual Result<std::optional<FileStatus>> writeSpareCopy(const std::string& path,
                                                           const std::string& contents,
                                                           uint32_t newFileMode) {
    return writeFileAtomicallyWithStatus(path, contents, newFileMode);
  }

  // Creates `path` and every missing parent. A directory that already exists is success.
  virtual Status createDirectories(const std::string& path) = 0;

  // Appends `text` to the end of `path`, creating the file (mode 0644) when it is missing.
  virtual Status appendToFile(const std::string& path, const std::string& text) = 0;

  virtual Status removeFile(const std::string& path) = 0;
  virtual Status renameFile(const std::string& from, const std::string& to) = 0;

  // Names of the entries in a directory (without "." and ".."), in no particular order.
  virtual Result<std::vector<std::string>> listDirectory(const std::string& path) const = 0;

  // The absolute path of what stands at `path` with every symbolic link, "." and ".." resolved:
  // the path the kernel shows for a running program's executable. A failure when nothing
  // stands there or it can't be told; a file system that can't tell fails for every path.
  virtual Result<std::string> canonicalPath(const std::string& path) const {
    return Status::failure("Can't resolve " + path + " here");
  }

  // Conveniences on top of the operations above, with a path that can't be inspected taken for
  // one where nothing stands.
  bool exists(const std::string& path) const { return inspect(path).ok(); }
  bool isDirectory(const std::string& path) const;
  bool isRegularFile(const std::string& path) const;
  // Reads a file as UTF-8 text; text that isn't valid UTF-8 is a failure.
  Result<std::string> readUTF8File(const std::string& path, uint64_t maxBytes) const;
};

struct FileSystemCalls;  // Platform/Linux/FileSystemCalls.h

// The machine's own file system.
class LocalFileSystem final : public FileSystem {
 public:
  LocalFileSystem();
  // Tests: every system call goes through (a copy of) `calls`.
  explicit LocalFileSystem(const FileSystemCalls& calls);

  Result<FileStatus> inspect(const std::string& path) const override;
  Result<std::string> readFile(const std::string& path, uint64_t maxBytes) const override;
  Result<std::string> readStart(const std::string& path, size_t bytes) const override;
  Status writeFileAtomically(const std::string& path, const std::string& contents,
                             uint32_t newFileMode) override;
  Result<std::optional<FileStatus>> writeFileAtomicallyWithStatus(const std::string& path,
                                                                  const std::string& contents,
                                                                  uint32_t newFileMode) override;
  Result<std::optional<FileStatus>> writeSpareCopy(const std::string& path,
                                                   const std::string& contents,
                                                   uint32_t newFileMode) override;
  Status createDirectories(const std::string& path) override;
  Status appendToFile(const std::string& path, const std::string& text) override;
  Status removeFile(const std::string& path) override;
  Status renameFile(const std::string& from, const std::string& to) override;
  Result<std::vector<std::string>> listDirectory(const std::string& path) const override;
  Result<std::string> canonicalPath(const std::string& path) const override;

 private:
  std::shared_ptr<const FileSystemCalls> calls_;
};

// Path texts, without touching the disk.
namespace path {
// `base` + "/" + `component`, with exactly one slash between them.
std::string appendingComponent(const std::string& base, const std::string& component);
// Everything before the last component ("/a/b/c" gives "/a/b", "c" gives "", "/c" gives "/").
std::string deletingLastComponent(const std::string& path);
std::string lastComponent(const std::string& path);
}  // namespace path

// True when `text` is well-formed UTF-8.
bool isValidUTF8(const std::string& text);

}  // namespace zelto
