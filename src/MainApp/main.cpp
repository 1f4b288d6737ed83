// Zelto: the main application. It enforces the blocking the configuration asks for, for the
// user whose session it runs in: a block page and a filtering proxy for the web, the ending of
// blocked applications, and the profile's scripts at the starts and ends of blocking and
// breaks. One instance runs per user; it runs until SIGTERM or SIGINT.
//
// With --guard-proxy it is the system guard's filtering proxy instead (GuardProxy).
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "App/Helpers/LoggingManager.h"
#include "MainApp/GuardProxy.h"
#include "MainApp/InstanceLock.h"
#include "MainApp/MainAppDelegate.h"
#include "Platform/Application.h"
#include "Platform/Directories.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"

namespace {

void printHelp() {
  std::printf(
      "Usage: Zelto [--help] [--version]\n"
      "       Zelto --guard-proxy --port PORT --locks FILE [--page-port PORT]\n\n"
      "The Zelto application. While blocking is on (started with zeltoctl, or by a schedule)\n"
      "it blocks the configured sites and applications:\n"
      "  - a block page at http://localhost:PORT/block/ (PORT: the configuration's \"httpPort\",\n"
      "    8919 when absent) and a proxy auto-configuration file at\n"
      "    http://localhost:PORT/proxy.pac for browsers;\n"
      "  - a filtering proxy on 127.0.0.1 at the \"ProxyPort\" user default (8920 when absent):\n"
      "    blocked web addresses are sent to the block page, blocked HTTPS hosts refused;\n"
      "  - blocked applications are quit, killed or frozen as each entry says;\n"
      "  - the profile's zelto/unzelto/break/unbreak scripts run at each start and end.\n"
      "Outside blocking it passes everything through. One instance runs per user; a second\n"
      "start says so and exits 0. It runs until it receives SIGTERM or SIGINT.\n\n"
      "Log level: the \"logLevel\" user default of the domain Quarnix.zelto, set with\n"
      "zeltoctl log-level LEVEL (--app for this program alone). Lines go to the journal\n"
      "(stderr and syslog) and to a daily file in ~/.local/state/Zelto/Logs.\n\n"
      "--guard-proxy: the filtering proxy alone, as the system guard runs it for locked\n"
      "blocks (as an unprivileged user): on 127.0.0.1 at --port, deciding with the locks in\n"
      "FILE ({\"locks\": [...]}, written by the guard): a request any running lock blocks is\n"
      "sent to a block page this process serves on --page-port (any free port when absent),\n"
      "or refused for HTTPS. SIGHUP reads FILE again; a damaged file keeps the locks held.\n"
      "Nothing else runs, and it logs to stderr only.\n");
}

// `text` as a port from `least` to 65535, else nothing.
std::optional<int> portOf(std::string_view text, int least) {
  int port = -1;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (error != std::errc() || end != text.data() + text.size() || port < least || port > 65535) {
    return std::nullopt;
  }
  return port;
}

// The --guard-proxy mode: its options, then the proxy until SIGTERM or SIGINT.
int runGuardProxy(int argc, char** argv) {
  zelto::GuardProxy::Settings settings;
  bool hasPort = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--guard-proxy") continue;
    if (i + 1 >= argc) {
      std::fprintf(stderr, "Zelto: %s needs a value (see --help)\n", argv[i]);
      return 2;
    }
    const char* value = argv[++i];
    if (option == "--locks") {
      settings.locksFile = value;
    } else if (option == "--port" || option == "--page-port") {
      const std::optional<int> port = portOf(value, option == "--port" ? 1 : 0);
      if (!port) {
        std::fprintf(stderr, "Zelto: %s %s is no port\n", argv[i - 1], value);
        return 2;
      }
      (option == "--port" ? settings.port : settings.pagePort) = *port;
      hasPort = hasPort || option == "--port";
    } else {
      std::fprintf(stderr, "Zelto: unknown option %s with --guard-proxy (see --help)\n",
                   argv[i - 1]);
      return 2;
    }
  }
  if (!hasPort || settings.locksFile.empty()) {
    std::fprintf(stderr, "Zelto: --guard-proxy needs --port and --locks (see --help)\n");
    return 2;
  }
  // Lines go to stderr alone, which the guard passes on to the journal: the account this runs
  // as has no home to keep a log in.
  spdlog::set_default_logger(spdlog::stderr_logger_mt("Zelto guard proxy"));
  zelto::GuardProxy proxy(std::move(settings));
  return zelto::Application::main(argc, argv, proxy);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) break;
    if (std::strcmp(argv[i], "--guard-proxy") == 0) return runGuardProxy(argc, argv);
  }
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      printHelp();
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Zelto %s\n", ZELTO_VERSION);
      return 0;
    }
    std::fprintf(stderr, "Zelto: unknown option %s (see --help)\n", argv[i]);
    return 2;
  }
  zelto::FileSystem& fs = zelto::Env::fileSystem();
  const zelto::Result<std::string> lockPath =
      zelto::InstanceLock::lockPath(zelto::Directories(fs), fs);
  zelto::Result<zelto::InstanceLock> lock =
      lockPath.ok() ? zelto::InstanceLock::acquireAt(*lockPath) : lockPath.status();
  if (!lock.ok()) {
    // Enforcing matters more than uniqueness: run unlocked (a second copy would find the
    // ports taken), without remembering the phase between runs.
    std::fprintf(stderr, "Zelto: can't take the single-instance lock, running anyway: %s\n",
                 lock.status().message().c_str());
  } else {
    switch (lock->outcome()) {
      case zelto::InstanceLock::Outcome::kAcquired:
        break;
      case zelto::InstanceLock::Outcome::kHeldByAnother:
        std::fprintf(stderr, "Zelto is already running for this user (it holds %s).\n",
                     lock->path().c_str());
        return 0;
      case zelto::InstanceLock::Outcome::kHeldByStranger:
        // A lock held by something else must not keep blocking from being enforced.
        std::fprintf(stderr, "Zelto: %s is held by a program that is not Zelto; running anyway.\n",
                     lock->path().c_str());
        break;
    }
  }
  int status = 0;
  {
    zelto::MainAppDelegate delegate(lockPath.ok() ? zelto::path::deletingLastComponent(*lockPath)
                                                  : std::string());
    status = zelto::Application::main(argc, argv, delegate);
  }
  zelto::LoggingManager::shutdown();
  return status;
}
