// FaultyFileSystem: the real file system with faults to order, and writes and reads counted.
//
// Writes and removals of chosen paths fail; modification and change times can be kept to the
// second (as on file systems that keep them no finer than the kernel's tick); a hook runs right
// after the next write (another process storing the same file, say); reads can throw, as running
// out of memory would make them. Thread safety: any thread.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <utility>

#include "Platform/FileSystem.h"

namespace zelto::testing {

class FaultyFileSystem final : public FileSystem {
  using S = std::string;

 public:
  bool coarseTimes = false;
  bool throwOnRead = false;
  std::function<void()> afterNextWrite;

  // How many times writeFileAtomically has replaced `path`.
  int writes(const S& path) const { return countOf(writes_, path); }
  // How many times readFile has been asked for `path`.
  int reads(const S& path) const { return countOf(reads_, path); }
  void failWrites(const S& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    failingWrites_.insert(path);
  }
  void failRemovals(const S& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    failingRemovals_.insert(path);
  }

  Result<FileStatus> inspect(const S& path) const override {
    auto st = real_.inspect(path);
    if (st.ok()) coarsen(*st);
    return st;
  }
  Status writeFileAtomically(const S& path, const S& contents, uint32_t mode) override {
    return write(path, contents, mode).status();
  }
  Result<std::optional<FileStatus>> writeFileAtomicallyWithStatus(const S& path, const S& contents,
                                                                  uint32_t mode) override {
    return write(path, contents, mode);
  }
  Status removeFile(const S& path) override {
    if (listed(failingRemovals_, path))
      return Status::failure(path + ": removal refused (injected)");
    return real_.removeFile(path);
  }
  Result<S> readFile(const S& p, uint64_t maxBytes) const override {
    if (throwOnRead) throw std::bad_alloc();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++reads_[p];
    }
    return real_.readFile(p, maxBytes);
  }
  Result<S> readStart(const S& p, size_t bytes) const override {
    if (throwOnRead) throw std::bad_alloc();
    return real_.readStart(p, bytes);
  }
  Status createDirectories(const S& p) override { return real_.createDirectories(p); }
  Status appendToFile(const S& p, const S& t) override { return real_.appendToFile(p, t); }
  Status renameFile(const S& a, const S& b) override { return real_.renameFile(a, b); }
  Result<std::vector<S>> listDirectory(const S& p) const override { return real_.listDirectory(p); }
  Result<S> canonicalPath(const S& p) const override { return real_.canonicalPath(p); }

 private:
  void coarsen(FileStatus& st) const {
    if (!coarseTimes) return;
    st.modifiedNanoseconds -= st.modifiedNanoseconds % 1'000'000'000;
    st.changedNanoseconds -= st.changedNanoseconds % 1'000'000'000;
  }
  Result<std::optional<FileStatus>> write(const S& path, const S& contents, uint32_t mode) {
    if (listed(failingWrites_, path)) return Status::failure(path + ": write refused (injected)");
    auto written = real_.writeFileAtomicallyWithStatus(path, contents, mode);
    if (written.ok()) {
      if (*written) coarsen(**written);
      std::lock_guard<std::mutex> lock(mutex_);
      ++writes_[path];
    }
    if (auto hook = std::exchange(afterNextWrite, nullptr)) hook();
    return written;
  }
  int countOf(const std::map<S, int>& counts, const S& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts.contains(path) ? counts.at(path) : 0;
  }
  bool listed(const std::set<S>& paths, const S& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return paths.count(path) > 0;
  }

  LocalFileSystem real_;
  mutable std::mutex mutex_;
  std::map<S, int> writes_;
  mutable std::map<S, int> reads_;
  std::set<S> failingWrites_;
  std::set<S> failingRemovals_;
};

}  // namespace zelto::testing
