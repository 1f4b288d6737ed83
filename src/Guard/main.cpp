// zelto-guard: the optional root service that makes a user's locked block hold against that same
// user. It keeps each lock where only root can write, and enforces it at the system level until
// its end, whatever happens to the user's own programs and files. See RELIABILITY.md for what it
// stops and what it can't.
#include <signal.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>

#include "Guard/GuardDaemon.h"
#include "Guard/GuardEnforcers.h"
#include "Guard/GuardPaths.h"
#include "Guard/GuardServer.h"
#include "Guard/GuardStore.h"
#include "Platform/BundleInfo.h"
#include "Platform/Clock.h"
#include "Platform/Env.h"
#include "Platform/Linux/InotifyFileWatcher.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Platform/Log.h"

int main(int argc, char** argv) {
  CLI::App app{
      "The Zelto system guard: holds users' locked blocks at the system level (browser "
      "policies, the hosts file, its own filtering proxy, ending blocked programs) until their "
      "end. Runs as root, as the system service zelto-guard.service.",
      "zelto-guard"};
  zelto::GuardPaths paths;
  std::string socket;
  int proxyPort = 8929;
  app.add_option("--root", paths.root,
                 "Prefix for every system path the guard touches (/etc, /var/lib, /run); for tests")
      ->default_val("/");
  app.add_option("--socket", socket, "The socket to listen at (default: /run/zelto-guard.sock)");
  app.add_option(
         "--proxy-port", proxyPort,
         "The port of the guard's own proxy, which browsers are made to use; its block page is "
         "served on the next one")
      ->check(CLI::Range(1, 65534))
      ->default_val(8929);
  bool releaseAll = false;
  app.add_flag("--release-all", releaseAll,
               "End every lock now and take out everything the guard wrote, then exit (what "
               "removing the package does; root's decision, like `zeltoctl guard release`)");
  app.set_version_flag("--version", std::string("zelto-guard ") + ZELTO_VERSION);
  CLI11_PARSE(app, argc, argv);
  if (socket.empty()) socket = paths.defaultSocket();

  auto logger = spdlog::stderr_logger_st("zelto-guard");
  logger->set_pattern("%l: %v");
  spdlog::set_default_logger(logger);
  if (::geteuid() != 0) {
    zelto::log::warning("Not running as root: the system files can't be written");
  }

  zelto::UvRunLoop loop;
  zelto::SystemClock clock;
  zelto::GuardStore store(zelto::Env::fileSystem(), paths.stateDir());
  zelto::InotifyFileWatcher watcher(loop);
  const std::string bundle = zelto::BundleInfo::currentExecutablePath();
  zelto::GuardEnforcers enforcers(
      loop, watcher, clock,
      {paths, proxyPort, proxyPort + 1, bundle.substr(0, bundle.rfind('/') + 1) + "Zelto"});
  if (releaseAll) {
    for (const auto& [uid, lock] : store.load(clock.now())) {
      zelto::log::info("The lock of user {} ends: every lock released by root", uid);
      if (zelto::Status removed = store.remove(uid); !removed.ok()) {
        zelto::log::error("{}", removed.message());
      }
    }
    enforcers.follow({});
    return 0;
  }
  zelto::GuardDaemon daemon(loop, clock, store, [&](const zelto::GuardDaemon::Locks& running) {
    zelto::log::info("{} lock(s) running", running.size());
    enforcers.follow(running);
  });
  daemon.start();
  auto server = zelto::GuardServer::start(
      loop, socket, [&daemon](const zelto::LocalListener::Peer& peer, const std::string& request) {
        return daemon.handle(peer.uid, request);
      });
  if (!server) {
    zelto::log::error("Can't serve requests: {}", server.status().message());
    return 1;
  }
  zelto::log::info("Listening at {}", socket);
  loop.onSignal(SIGTERM, [&loop] { loop.stop(); });
  loop.onSignal(SIGINT, [&loop] { loop.stop(); });
  ::signal(SIGPIPE, SIG_IGN);
  loop.run();
  return 0;
}
