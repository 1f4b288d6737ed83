// GuardHandOver: the application's side of the system guard: whenever the running period is
// locked and has an end (a timer that must be completed, a locked scheduled period), the lock it
// calls for — the default profile's sites and programs, the proxy's port — is handed to the
// guard, again whenever it tightens, so that the guard holds it whatever happens to this user's
// programs. With the guard, a locked scheduled period takes no break at the system level: the
// guard knows no breaks.
//
// The guard is optional: where none runs, that is logged once. Each hand-over is one request on
// the blocking-calls queue (the guard answers at once, but the loop never waits on a socket);
// what came of it is logged on the loop.
//
// Owned by the application's delegate; the loop's thread.
#pragma once

#include <memory>
#include <optional>

#include "App/Controller/Zelto.h"
#include "App/Guard/GuardLock.h"
#include "Platform/RunLoop.h"

namespace zelto {

class GuardHandOver {
 public:
  explicit GuardHandOver(RunLoop& loop) : loop_(loop) {}
  ~GuardHandOver() { *alive_ = false; }
  GuardHandOver(const GuardHandOver&) = delete;
  GuardHandOver& operator=(const GuardHandOver&) = delete;

  // Looks at the running period of `zelto` now; hands a lock over when it calls for a new one.
  void follow(Zelto& zelto, int proxyPort);

 private:
  RunLoop& loop_;
  std::optional<GuardLock> handed_;
  bool toldAbsent_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace zelto
