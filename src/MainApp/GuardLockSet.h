// GuardLockSet: the locked blocks the system guard hands its proxy, as the proxy decides with
// them: a URL is blocked when any lock that still runs blocks it, each by its own list with the
// application's matcher code (its blocked sites, or in allow-list mode everything but its
// allowed sites; the always-allowed addresses and block-page addresses pass in both).
//
// The file is the guard's: {"locks": [lock, ...]}, each lock as GuardLock reads it. Reading is
// bounded and all or nothing: a file past kMaxFileBytes, text that isn't JSON or nests too deep,
// any other shape or any lock GuardLock refuses is a failure naming the file and the cause, and
// no set is made of it.
//
// Owns a matcher (and the small record it reads) per lock; move-only. The loop's thread (the
// matchers are built on first use and are not shared across threads).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "App/Guard/GuardLock.h"
#include "Platform/Date.h"
#include "Platform/FileSystem.h"
#include "Platform/Status.h"

namespace zelto {

class GuardLockSet {
 public:
  static constexpr uint64_t kMaxFileBytes = 64ull << 20;
  static constexpr size_t kMaxLocks = 4'096;

  GuardLockSet();
  ~GuardLockSet();
  GuardLockSet(GuardLockSet&&) noexcept;
  GuardLockSet& operator=(GuardLockSet&&) noexcept;

  static Result<GuardLockSet> read(const FileSystem& fs, const std::string& path);
  static Result<GuardLockSet> fromJson(const nlohmann::json& value);

  size_t size() const { return entries_.size(); }
  // Whether some lock running at `now` blocks `url` (a decision URL, as the proxy asks).
  bool blocks(std::string_view url, Date now) const;
  // The blocked sites of the block-list locks running at `now`: the hosts whose addresses are
  // blocked too.
  std::vector<std::string> blockedSites(Date now) const;
  // The latest end of the locks running at `now`; nothing when none runs.
  std::optional<Date> lastEnd(Date now) const;

 private:
  struct Entry;
  std::vector<std::unique_ptr<Entry>> entries_;
};

}  // namespace zelto
