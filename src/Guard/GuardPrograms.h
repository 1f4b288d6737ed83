// GuardPrograms: ends the blocked programs of every user whose lock runs, the way the application
// would (the same resolver of entries, the same ways of ending, the same watch on starts), so
// that killing or stopping the user's application frees nothing. Only that user's processes are
// looked at, and nothing is ever started: a lock's "reopen" flags are dropped, and when a lock
// ends its hidden programs are woken and nothing else happens.
//
// Owned by the guard; the loop's thread.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>

#include "App/Guard/GuardLock.h"
#include "Platform/RunLoop.h"

namespace zelto {

class GuardPrograms {
 public:
  // Where a desktop entry's program without a directory is looked for.
  static constexpr const char* kSearchPath = "/usr/local/bin:/usr/bin:/bin";

  explicit GuardPrograms(RunLoop& loop);
  ~GuardPrograms();
  GuardPrograms(const GuardPrograms&) = delete;
  GuardPrograms& operator=(const GuardPrograms&) = delete;

  // Ends the programs of each lock in `running`; lets go of users no longer among them.
  void follow(const std::map<uid_t, GuardLock>& running);

 private:
  struct User;

  RunLoop& loop_;
  std::map<uid_t, std::unique_ptr<User>> users_;
};

}  // namespace zelto
