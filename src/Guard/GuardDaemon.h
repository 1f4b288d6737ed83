// GuardDaemon: what the system guard decides: which user's lock runs until when. It answers the
// requests its socket hands it, keeps every lock in its store before saying yes, ends each lock
// with a timer at its end (no polling), and tells its owner whenever the set of running locks
// changes, so that what enforces them (the system files, the guard's proxy, ending programs)
// follows.
//
// A lock may only be made firmer: the user's programs can send one at any time, and an offer
// that would loosen the running one is refused with the reason. Only root ends a lock early. A
// request is read strictly: anything malformed is answered with what is wrong and changes
// nothing.
//
// Owned by the guard; the loop's thread.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "App/Guard/GuardLock.h"
#include "Guard/GuardStore.h"
#include "Platform/Clock.h"
#include "Platform/RunLoop.h"

namespace zelto {

class GuardDaemon {
 public:
  using Locks = std::map<uid_t, GuardLock>;
  using LocksChanged = std::function<void(const Locks& running)>;

  GuardDaemon(RunLoop& loop, const Clock& clock, GuardStore& store, LocksChanged onChange)
      : loop_(loop), clock_(clock), store_(store), onChange_(std::move(onChange)) {}

  // Takes up the locks kept in the store that still run (at boot, or after a restart).
  void start();

  // The answer (JSON text) to request `text` from user `peer`.
  std::string handle(uid_t peer, const std::string& text);

  const Locks& locks() const { return locks_; }

 private:
  nlohmann::json lock(uid_t peer, GuardLock offered);
  nlohmann::json release(uid_t peer, uid_t subject);
  nlohmann::json status(uid_t subject);
  void arm(uid_t uid);
  void end(uid_t uid, const std::string& why);

  RunLoop& loop_;
  const Clock& clock_;
  GuardStore& store_;
  LocksChanged onChange_;
  Locks locks_;
  std::map<uid_t, std::unique_ptr<Registration>> timers_;
};

}  // namespace zelto
