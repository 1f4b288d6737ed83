// GuardStore: the locks the system guard holds, one file per user under its state folder
// ("UID.json", written atomically, readable and writable by root alone), so that a lock outlives
// the guard, a reboot and anything the user does to their own files.
//
// A damaged file is logged and left out: it never creates or extends a block (nor is it
// deleted, so that it can be looked at); a lock that has ended is removed when the store is
// loaded.
//
// Owned by the guard; the loop's thread.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

#include "App/Guard/GuardLock.h"
#include "Platform/FileSystem.h"

namespace zelto {

class GuardStore {
 public:
  static constexpr uint64_t kMaxFileBytes = 64ull << 20;

  GuardStore(FileSystem& fs, std::string dir) : fs_(fs), dir_(std::move(dir)) {}

  // Every lock kept that still runs at `now`; those that ended are removed.
  std::map<uid_t, GuardLock> load(Date now);
  Status save(uid_t uid, const GuardLock& lock);
  Status remove(uid_t uid);

  std::string fileOf(uid_t uid) const { return dir_ + "/" + std::to_string(uid) + ".json"; }

 private:
  FileSystem& fs_;
  std::string dir_;
};

}  // namespace zelto
