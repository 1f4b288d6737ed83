// GuardProxy: the application run as the system guard's filtering proxy (`Zelto --guard-proxy`),
// in a child of the guard that runs as an unprivileged user.
//
// It serves the filtering proxy alone, on 127.0.0.1 at the port given, deciding with the locks
// of the guard's file (GuardLockSet): a request is blocked while any lock that runs blocks it,
// and so is a request to a bare address last seen for a host a block-list lock names
// (BlockedAddresses). A blocked plain-HTTP request is redirected to the block page, which this
// process serves itself, on a second port of 127.0.0.1 and ::1 (the page port given, or one the
// system picks): the redirect names the port it got. A blocked CONNECT is refused. Nothing
// else of the application runs: no record, no agent, no scripts, no notifications, no ending
// of programs, no instance lock.
//
// SIGHUP reads the file again. A file that can't be read or isn't whole keeps the locks held
// and is logged with its cause; a good one replaces them, and open connections that the new
// locks block are closed.
//
// Ownership: `main` owns the one delegate for the life of the process; it owns every component,
// all bound to the main loop. Main thread only.
#pragma once

#include <memory>
#include <string>

#include "App/Blocking/Helpers/ZeltoURL.h"
#include "App/Data/Preferences/ZeltoPreferences.h"
#include "MainApp/BlockPageServer.h"
#include "MainApp/BlockedAddresses.h"
#include "MainApp/GuardLockSet.h"
#include "MainApp/ProxyServer.h"
#include "Platform/Application.h"
#include "Platform/HostResolver.h"
#include "Platform/Network.h"
#include "Platform/Status.h"

namespace zelto {

class GuardProxy final : public ApplicationDelegate {
 public:
  struct Settings {
    int port = 0;
    int pagePort = 0;  // 0: any free port
    std::string locksFile;
  };

  explicit GuardProxy(Settings settings);
  ~GuardProxy() override;

  void applicationDidFinishLaunching() override;
  void applicationWillTerminate() override;

  // Reads the locks file again; a failure keeps the locks held (and is logged by the caller).
  Status reload();

 private:
  ProxyVerdict decide(const ProxyRequest& request);
  bool isBlocked(const ProxyRequest& request, Date now);
  std::string timeLeft() const;

  Settings settings_;
  GuardLockSet locks_;
  // What the block page's address is built from: only its port is set.
  ZeltoPreferences pageRecord_;
  ZeltoURL zeltoURL_;
  std::unique_ptr<Network> network_;  // before the servers, which use it
  std::unique_ptr<HostResolver> resolver_;
  std::unique_ptr<BlockedAddresses> addresses_;
  std::unique_ptr<BlockPageServer> page_;
  std::unique_ptr<ProxyServer> proxy_;
};

}  // namespace zelto
