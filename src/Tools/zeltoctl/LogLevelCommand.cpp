#include "Tools/zeltoctl/LogLevelCommand.h"

#include <cstdio>
#include <iterator>
#include <memory>
#include <optional>

#include "App/Commands/CommandOutcome.h"
#include "App/Commands/ProgramDefaults.h"
#include "App/Commands/QuietLog.h"
#include "App/Controller/BlockingPhase.h"
#include "App/Controller/ChangePolicy.h"
#include "App/Controller/Zelto.h"
#include "App/Helpers/LoggingManager.h"
#include "Platform/Env.h"

namespace zelto {

namespace {

constexpr const char* kLevelKey = "logLevel";
constexpr const char* kLevelNames[] = {"off", "error", "warning", "info", "debug", "all"};

// Why blocking is locked now; nothing when it isn't, or when the configuration can't be loaded
// (nothing to keep then).
std::optional<std::string> lockReason() {
  QuietLog quiet;
  Zelto controller(Env::clock());
  controller.keepLockedPeriods();
  if (controller.prefs() == nullptr) return std::nullopt;
  const ChangePolicy::Decision decision =
      ChangePolicy::decide(controller, BlockingPhase::of(controller),
                           {.kind = ChangePolicy::Change::Kind::kSwitchLogOff});
  if (decision.allowed()) return std::nullopt;
  return decision.reason;
}

std::string storedLevel(UserDefaults& defaults) {
  const uint64_t mask =
      LoggingManager::getLogLevelFromName(defaults.ownStringForKey(kLevelKey).value_or(""));
  return LoggingManager::getNameFromLogLevel(mask);
}

}  // namespace

void LogLevelCommand::addTo(CLI::App& app, CommandRunner::Action& chosen) {
  auto level = std::make_shared<std::string>();
  auto agent = std::make_shared<bool>(false);
  auto application = std::make_shared<bool>(false);
  CLI::App* command = app.add_subcommand(
      "log-level",
      "Show the log level of the agent and of the application, or set it (each program takes\n"
      "it at its next start)");
  command
      ->add_option("LEVEL", *level,
                   "off, error, warning, info (the default), debug or all; each level logs its "
                   "own lines and those of the levels before it")
      ->check(
          CLI::IsMember(std::vector<std::string>(std::begin(kLevelNames), std::end(kLevelNames))));
  command->add_flag("--agent", *agent, "The agent's level alone");
  command->add_flag("--app", *application, "The application's level alone");
  command->footer(
      "Kept as the \"logLevel\" setting of each program, in\n"
      "${XDG_CONFIG_HOME:-~/.config}/Zelto/Preferences/Quarnix.zelto.agent.plist (the agent) and\n"
      "Quarnix.zelto.plist (the application). The log can't be switched off while blocking is\n"
      "locked.");
  command->callback([&chosen, level, agent, application] {
    chosen = [level, agent, application] {
      const bool both = *agent == *application;
      std::unique_ptr<UserDefaults> agentDefaults;
      std::unique_ptr<UserDefaults> applicationDefaults;
      std::vector<Program> programs;
      if (both || *agent) {
        agentDefaults = ProgramDefaults::of(ProgramDefaults::kAgentDomain);
        programs.push_back({"agent", agentDefaults.get()});
      }
      if (both || *application) {
        applicationDefaults = ProgramDefaults::of(ProgramDefaults::kApplicationDomain);
        programs.push_back({"application", applicationDefaults.get()});
      }
      return run(programs, *level);
    };
  });
}

int LogLevelCommand::run(const std::vector<Program>& programs, const std::string& level) {
  if (level.empty()) {
    for (const Program& program : programs) {
      const std::string stored = storedLevel(*program.defaults);
      if (programs.size() == 1) {
        std::printf("%s\n", stored.c_str());
      } else {
        std::printf("%s: %s\n", program.name.c_str(), stored.c_str());
      }
    }
    return CommandOutcome::kDone;
  }
  // Switching the log off would hide what a locked period is meant to show.
  if (level == "off") {
    if (std::optional<std::string> lock = lockReason()) {
      std::fprintf(stderr, "zeltoctl: the log can't be switched off while blocking is locked: %s\n",
                   lock->c_str());
      return CommandOutcome::kRefused;
    }
  }
  // Each program's earlier setting, to put back when a later one can't be stored.
  std::vector<std::optional<nlohmann::json>> before;
  for (const Program& program : programs) {
    before.push_back(program.defaults->ownObjectForKey(kLevelKey));
    program.defaults->setObject(level, kLevelKey);
    if (Status stored = program.defaults->synchronize(); !stored.ok()) {
      for (size_t i = 0; i < before.size(); ++i) {
        programs[i].defaults->setObject(before[i].value_or(nullptr), kLevelKey);
        if (i + 1 < before.size()) programs[i].defaults->synchronize().ignoreError();
      }
      std::fprintf(stderr, "zeltoctl: could not store the %s's log level: %s\n",
                   program.name.c_str(), stored.message().c_str());
      return CommandOutcome::kRefused;
    }
  }
  for (const Program& program : programs) {
    std::printf("The %s logs at level \"%s\" from its next start.\n", program.name.c_str(),
                level.c_str());
  }
  return CommandOutcome::kDone;
}

}  // namespace zelto
