// FileSystem: the file operations the rest of the program needs, behind one narrow interface.
//
// Paths are plain UTF-8 texts. Operations that can fail return false or an empty optional and,
// when `error` is given, put a one-line reason there (the system's message, with the path).
// LocalFileSystem is the real one; tests may wrap it to inject faults.
//
// Thread safety: every operation may be called from any thread; the file system itself is the
// only shared state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelto {

struct FileStatus {
  enum class Kind { kRegular, kDirectory, kOther };
  Kind kind = Kind::kOther;
  uint64_t size = 0;
  int64_t modifiedNanoseconds = 0;  // since 1970
  uint32_t permissions = 0;         // the mode's permission bits
  uint64_t fileNumber = 0;          // the inode: a file replaced by a rename gets a new one
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The status of whatever stands at `path` (links followed), or nothing when there is nothing.
  virtual std::optional<FileStatus> status(const std::string& path) const = 0;

  // Reads a regular file whole. Anything else at the path (a directory, a FIFO, a device) is an
  // error, and reading never blocks on it.
  virtual std::optional<std::string> readFile(const std::string& path,
                                              std::string* error = nullptr) const = 0;

  // Replaces `path` with `contents` atomically: a new file in the same directory, written whole
  // and flushed to disk, then renamed over the target. The target keeps its permission bits; a
  // new file gets `newFileMode`. On failure the old file stays as it was and nothing is left
  // behind.
  virtual bool writeFileAtomically(const std::string& path, const std::string& contents,
                                   std::string* error = nullptr, uint32_t newFileMode = 0600) = 0;

  // Creates `path` and every missing parent. A directory that already exists is success.
  virtual bool createDirectories(const std::string& path, std::string* error = nullptr) = 0;

  // Appends `text` to the end of `path`, creating the file (mode 0644) when it is missing.
  virtual bool appendToFile(const std::string& path, const std::string& text,
                            std::string* error = nullptr) = 0;

  virtual bool removeFile(const std::string& path, std::string* error = nullptr) = 0;
  virtual bool renameFile(const std::string& from, const std::string& to,
                          std::string* error = nullptr) = 0;

  // Names of the entries in a directory (without "." and ".."), in no particular order.
  virtual std::optional<std::vector<std::string>> listDirectory(
      const std::string& path, std::string* error = nullptr) const = 0;

  // Conveniences on top of the operations above.
  bool exists(const std::string& path) const { return status(path).has_value(); }
  bool isDirectory(const std::string& path) const;
  bool isRegularFile(const std::string& path) const;
  // Reads a file as UTF-8 text: nothing when it can't be read or isn't valid UTF-8.
  std::optional<std::string> readUTF8File(const std::string& path,
                                          std::string* error = nullptr) const;
};

// The machine's own file system.
class LocalFileSystem final : public FileSystem {
 public:
  std::optional<FileStatus> status(const std::string& path) const override;
  std::optional<std::string> readFile(const std::string& path,
                                      std::string* error = nullptr) const override;
  bool writeFileAtomically(const std::string& path, const std::string& contents,
                           std::string* error = nullptr, uint32_t newFileMode = 0600) override;
  bool createDirectories(const std::string& path, std::string* error = nullptr) override;
  bool appendToFile(const std::string& path, const std::string& text,
                    std::string* error = nullptr) override;
  bool removeFile(const std::string& path, std::string* error = nullptr) override;
  bool renameFile(const std::string& from, const std::string& to,
                  std::string* error = nullptr) override;
  std::optional<std::vector<std::string>> listDirectory(
      const std::string& path, std::string* error = nullptr) const override;
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
