// GuardEnforcers: what holds the machine to the running locks: the system files (the hosts
// section, the browsers' policies), the guard's own proxy, and the ending of blocked programs.
// Each follows every change of the running locks; with none left, everything is taken out and
// the proxy stopped.
//
// The proxy runs under an unprivileged account (ProxyChild); where there is none to be had, no
// proxy runs and browsers, held to it by their policies, reach nothing: blocking fails closed.
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
#include "Guard/ProxyChild.h"
#include "Guard/SystemFiles.h"
#include "Platform/Clock.h"
#include "Platform/FileWatcher.h"
#include "Platform/RunLoop.h"

namespace zelto {

class GuardEnforcers {
 public:
  struct Options {
    GuardPaths paths;
    int proxyPort = 0;         // the guard's proxy, which browsers are made to use
    int pagePort = 0;          // its block page; 0: any free port
    std::string proxyProgram;  // the application's binary, run in its proxy mode
  };

  GuardEnforcers(RunLoop& loop, FileWatcher& watcher, const Clock& clock, Options options);
  ~GuardEnforcers();

  void follow(const std::map<uid_t, GuardLock>& running);

 private:
  // Writes the locks file the proxy reads (readable by its account alone), then starts the
  // proxy or has it read the file again.
  void followWithProxy(const std::vector<GuardLock>& locks);

  Options options_;
  SystemFiles files_;
  GuardPrograms programs_;
  std::optional<ProxyChild::Account> account_;
  std::unique_ptr<ProxyChild> proxy_;
};

}  // namespace zelto
