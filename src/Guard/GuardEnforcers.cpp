#include "Guard/GuardEnforcers.h"

#include "Guard/Enforcement.h"
#include "Platform/Log.h"

namespace zelto {

GuardEnforcers::GuardEnforcers(RunLoop& loop, FileWatcher& watcher, const Clock& clock,
                               Options options)
    : options_(std::move(options)), files_(loop, watcher, clock, options_.paths), programs_(loop) {}

void GuardEnforcers::follow(const std::map<uid_t, GuardLock>& running) {
  std::vector<GuardLock> locks;
  for (const auto& [uid, lock] : running) locks.push_back(lock);
  // Failures are logged where they happen, and retried there.
  if (locks.empty()) {
    files_.clear().ignoreError();
  } else {
    files_.apply(Enforcement::of(locks, options_.proxyPort)).ignoreError();
  }
  programs_.follow(running);
}

}  // namespace zelto
