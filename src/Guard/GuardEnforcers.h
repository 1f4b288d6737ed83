// GuardEnforcers: what holds the machine to the running locks: the system files (the hosts
// section, the browsers' policies), the guard's own proxy, and the ending of blocked programs.
// Each follows every change of the running locks; with none left, everything is taken out and
// the proxy stopped.
//
// Owned by the guard; the loop's thread. The loop, the watcher and the clock outlive it.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>

#include "App/Guard/GuardLock.h"
#include "Guard/GuardPaths.h"
#include "Guard/GuardPrograms.h"
#include "Guard/SystemFiles.h"
#include "Platform/Clock.h"
#include "Platform/FileWatcher.h"
#include "Platform/RunLoop.h"

namespace zelto {

class GuardEnforcers {
 public:
  struct Options {
    GuardPaths paths;
    int proxyPort = 0;  // the guard's proxy, which browsers are made to use
  };

  GuardEnforcers(RunLoop& loop, FileWatcher& watcher, const Clock& clock, Options options);

  void follow(const std::map<uid_t, GuardLock>& running);

 private:
  Options options_;
  SystemFiles files_;
  GuardPrograms programs_;
};

}  // namespace zelto
