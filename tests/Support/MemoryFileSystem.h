// MemoryFileSystem: a FileSystem held in memory, for tests that write often (no disk, no
// flushing), count what was written, or make writes and removals fail.
//
// Files and directories live in maps keyed by path; parents are not checked except that a write
// into a missing directory fails, as it would on disk. Thread safety: any thread (one lock).
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>

#include "Platform/FileSystem.h"

namespace zelto::testing {

class MemoryFileSystem final : public FileSystem {
 public:
  std::optional<FileStatus> status(const std::string& path) const override;
  Result<std::string> readFile(const std::string& path) const override;
  Status writeFileAtomically(const std::string& path, const std::string& contents,
                             uint32_t newFileMode) override;
  Status createDirectories(const std::string& path) override;
  Status appendToFile(const std::string& path, const std::string& text) override;
  Status removeFile(const std::string& path) override;
  Status renameFile(const std::string& from, const std::string& to) override;
  Result<std::vector<std::string>> listDirectory(const std::string& path) const override;

  // Writes `contents` to `path` (making its directories) without counting the write.
  void put(const std::string& path, const std::string& contents);
  // How many times writeFileAtomically has replaced `path` successfully.
  int writes(const std::string& path) const;
  uint32_t mode(const std::string& path) const;
  // Makes writeFileAtomically or removeFile fail for `path` until cleared.
  void failWrites(const std::string& path, bool fail = true);
  void failRemovals(const std::string& path, bool fail = true);

 private:
  struct File {
    std::string contents;
    uint32_t mode = 0;
  };

  mutable std::mutex mutex_;
  std::map<std::string, File> files_;
  std::set<std::string> directories_{"/"};
  std::map<std::string, int> writes_;
  std::set<std::string> failingWrites_;
  std::set<std::string> failingRemovals_;
};

}  // namespace zelto::testing
