#include "Guard/GuardPrograms.h"

#include "App/Blocking/AppBlocker.h"
#include "Platform/Env.h"
#include "Platform/Linux/InotifyExecutableWatch.h"
#include "Platform/Linux/LinuxProcessTable.h"

namespace zelto {

struct GuardPrograms::User {
  User(RunLoop& loop, uid_t uid) : table(uid), watch(loop), blocker(loop, table, watch) {}
  LinuxProcessTable table;
  InotifyExecutableWatch watch;
  AppBlocker blocker;
  nlohmann::json entries;
};

GuardPrograms::GuardPrograms(RunLoop& loop) : loop_(loop) {}

GuardPrograms::~GuardPrograms() {
  for (auto& [uid, user] : users_) user->blocker.shutdown();
}

void GuardPrograms::follow(const std::map<uid_t, GuardLock>& running) {
  for (auto it = users_.begin(); it != users_.end();) {
    if (running.contains(it->first)) {
      ++it;
      continue;
    }
    it->second->blocker.shutdown();  // wakes what it hid, starts nothing
    it = users_.erase(it);
  }
  for (const auto& [uid, lock] : running) {
    nlohmann::json entries = nlohmann::json::array();
    for (nlohmann::json entry : lock.programs) {
      entry.erase("shouldReopenWhenUnzeltoing");
      entries.push_back(std::move(entry));
    }
    auto& user = users_[uid];
    if (entries.empty()) {
      if (user) user->blocker.shutdown();
      users_.erase(uid);
      continue;
    }
    if (!user) user = std::make_unique<User>(loop_, uid);
    if (user->entries == entries) continue;
    user->entries = entries;
    user->blocker.setEntries(entries, Env::fileSystem(), kSearchPath);
    user->blocker.setMode(AppBlocker::Mode::kEnforcing);
  }
}

}  // namespace zelto
