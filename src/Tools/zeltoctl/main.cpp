// zeltoctl: the command-line companion of the blocker, for looking at what the agent sees and
// adjusting the agent's own settings.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <string>

#include "Agent/App/LoggingManager.h"
#include "Platform/DefaultsStore.h"
#include "Platform/Directories.h"
#include "Platform/Env.h"
#include "Platform/UserDefaults.h"

namespace {

constexpr const char* kAgentDomain = "Quarnix.zelto.agent";
constexpr const char* kLevelNames[] = {"off", "error", "warning", "info", "debug", "all"};

// The agent's own settings, as the agent reads them.
zelto::UserDefaults agentDefaults() {
  auto store = std::make_shared<zelto::PlistDefaultsStore>(
      zelto::Env::fileSystem(), [] { return zelto::Env::directories().preferencesDirectory(); });
  return zelto::UserDefaults(kAgentDomain, store);
}

int logLevelCommand(const std::string& level) {
  zelto::UserDefaults defaults = agentDefaults();
  if (level.empty()) {
    auto stored = defaults.stringForKey("logLevel");
    uint64_t mask = zelto::LoggingManager::getLogLevelFromName(stored.value_or(""));
    std::printf("%s\n", zelto::LoggingManager::getNameFromLogLevel(mask).c_str());
    return 0;
  }
  defaults.setObject(level, "logLevel");
  if (!defaults.synchronize()) {
    std::fprintf(stderr, "zeltoctl: could not store the log level in %s\n",
                 zelto::Env::directories().preferencesDirectory().value_or("(unknown)").c_str());
    return 1;
  }
  std::printf("The agent logs at level \"%s\" from its next start.\n", level.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "zeltoctl: inspect the Zelto blocker's configuration and what its watchdog agent decides.\n"
      "The agent keeps the Zelto application running while blocking should be on, and starts\n"
      "it before a scheduled blocking period begins."};
  app.name("zeltoctl");
  app.set_version_flag("--version", std::string("zeltoctl ") + ZELTO_VERSION);
  app.require_subcommand(0, 1);
  app.footer(
      "Files: configuration in ${XDG_DATA_HOME:-~/.local/share}/Zelto/default.cfg, settings in\n"
      "${XDG_CONFIG_HOME:-~/.config}/Zelto/Preferences, logs in\n"
      "${XDG_STATE_HOME:-~/.local/state}/Zelto/Logs.");

  std::string level;
  CLI::App* logLevel = app.add_subcommand(
      "log-level", "Show the agent's log level, or set it (takes effect when the agent starts)");
  logLevel->add_option("LEVEL", level, "off, error, warning, info, debug or all")
      ->check(
          CLI::IsMember(std::vector<std::string>(std::begin(kLevelNames), std::end(kLevelNames))));

  CLI11_PARSE(app, argc, argv);
  if (logLevel->parsed()) return logLevelCommand(level);
  std::printf("%s", app.help().c_str());
  return 0;
}
