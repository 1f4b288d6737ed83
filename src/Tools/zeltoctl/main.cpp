// zeltoctl: the command-line companion of the blocker: starts and ends blocks, edits what is
// blocked, and shows what the agent sees.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "App/Commands/CommandOutcome.h"
#include "App/Commands/CommandSession.h"
#include "App/Commands/ProgramDefaults.h"
#include "App/Commands/QuietLog.h"
#include "App/Commands/StatusReport.h"
#include "App/Commands/UrlCheck.h"
#include "App/Controller/BlockingPhase.h"
#include "App/Controller/ChangePolicy.h"
#include "App/Controller/Zelto.h"
#include "App/Data/BundleIdentifiers.h"
#include "App/Data/Preferences/JSONValues.h"
#include "App/Data/Preferences/ZeltoPreferences.h"
#include "App/Helpers/LoggingManager.h"
#include "Platform/DefaultsStore.h"
#include "Platform/Directories.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"
#include "Platform/Memory.h"
#include "Platform/UserDefaults.h"
#include "Tools/zeltoctl/AppCommandLine.h"
#include "Tools/zeltoctl/BlockCommandLine.h"
#include "Tools/zeltoctl/GuardCommandLine.h"
#include "Tools/zeltoctl/LogLevelCommand.h"
#include "Tools/zeltoctl/OpenCommand.h"
#include "Tools/zeltoctl/PortCommand.h"
#include "Tools/zeltoctl/ScheduleCommandLine.h"
#include "Tools/zeltoctl/SiteCommandLine.h"

namespace {

int dumpCommand(bool pretty) {
  zelto::QuietLog quiet;
  auto prefs =
      zelto::ZeltoPreferences::loadWithNamespace(zelto::ZeltoBasePreferences::standardNamespace());
  if (!prefs) {
    std::fprintf(stderr, "%s", quiet.lines().c_str());
    return 1;
  }
  std::string text = prefs->toDictionary().dump(pretty ? 2 : -1, ' ', false,
                                                nlohmann::json::error_handler_t::replace);
  std::printf("%s\n", text.c_str());
  return 0;
}

int validateCommand(const std::string& file) {
  zelto::QuietLog quiet;
  std::optional<std::string> path = file;
  if (file.empty()) {
    path = zelto::ZeltoBasePreferences::standardConfigurationPath();
  } else {
    // A file named on the command line must be there and readable: a missing standard file
    // means "start from defaults", a missing named one is a mistake.
    auto readable = zelto::Env::fileSystem().readFile(
        file, zelto::ZeltoBasePreferences::kMaxConfigurationBytes);
    if (!readable.ok()) {
      std::fprintf(stderr, "zeltoctl: %s\n", readable.status().message().c_str());
      return 1;
    }
  }
  if (!path) {
    std::fprintf(stderr, "%s", quiet.lines().c_str());
    return 1;
  }
  auto object = zelto::ZeltoBasePreferences::configObjectAtPath(*path);
  if (!object || !zelto::ZeltoPreferences::initWithNamespace(
                     zelto::ZeltoBasePreferences::standardNamespace(), *object)) {
    std::fprintf(stderr, "%s", quiet.lines().c_str());
    return 1;
  }
  std::printf("valid\n");
  return 0;
}

// The moment to answer for: the given date text, or now.
std::optional<zelto::Date> momentFrom(const std::string& text) {
  if (text.empty()) return zelto::Env::clock().now();
  auto date = zelto::JSONValues::parseDate(text);
  if (!date) {
    std::fprintf(stderr,
                 "zeltoctl: \"%s\" is not a date; use e.g. 2026-12-09T08:56:00+01:00 or "
                 "2026-12-09T07:56:00Z\n",
                 text.c_str());
  }
  return date;
}

// Runs `command` with a controller that answers as if it were the moment given (or now), on the
// configuration the agent loads. Exit 2 for a moment that isn't a date, 1 when the
// configuration can't be loaded (its reason printed).
int withController(const std::string& when,
                   const std::function<void(zelto::Zelto&, zelto::Date)>& command) {
  auto moment = momentFrom(when);
  if (!moment) return 2;
  // A locked period kept from an earlier sight counts now; a look at another moment is a
  // question about the record alone, and keeps nothing.
  zelto::Status looked = zelto::CommandSession::look(
      *moment, when.empty(), [&](zelto::Zelto& controller) { command(controller, *moment); });
  if (!looked.ok()) {
    std::fprintf(stderr, "%s", looked.message().c_str());
    return 1;
  }
  return 0;
}

int statusCommand(const std::string& when, bool asJson) {
  return withController(when, [asJson](zelto::Zelto& controller, zelto::Date moment) {
    nlohmann::json status = zelto::StatusReport::status(controller, moment);
    if (asJson) {
      std::printf("%s\n", status.dump().c_str());
    } else {
      std::printf("%s", zelto::StatusReport::statusText(status).c_str());
    }
  });
}

int scheduleCommand(const std::string& when, int days) {
  return withController(when, [days](zelto::Zelto& controller, zelto::Date moment) {
    std::printf("%s", zelto::StatusReport::scheduleText(controller, moment, days).c_str());
  });
}

// One line per URL: "blocked" or "allowed", a tab, the URL; with `explain`, a tab, the rank of
// the rule that decided (1 to 5) and a tab and the pattern of the deciding matcher.
int checkUrlCommand(const std::vector<std::string>& urls, bool explain) {
  return withController("", [&](zelto::Zelto& controller, zelto::Date) {
    for (const std::string& url : urls) {
      const nlohmann::json decided = zelto::UrlCheck::explain(controller, url);
      std::string line = (decided["blocked"] == true ? "blocked\t" : "allowed\t") + url;
      if (explain) {
        line += "\t" + std::to_string(decided["rank"].get<int>()) + "\t" +
                decided["pattern"].get<std::string>();
      }
      std::printf("%s\n", line.c_str());
    }
  });
}

}  // namespace

int main(int argc, char** argv) {
  // One command, then exit: memory freed on the way is better kept for the next step.
  zelto::Memory::keepFreedMemoryUntilExit();
  CLI::App app{
      "zeltoctl: start, end and edit the Zelto blocker's blocks, and see what its watchdog\n"
      "agent decides.\n"
      "The agent keeps the Zelto application running while blocking should be on, and starts\n"
      "it before a scheduled blocking period begins."};
  app.name("zeltoctl");
  app.set_version_flag("--version", std::string("zeltoctl ") + ZELTO_VERSION);
  app.require_subcommand(0, 1);
  app.footer(
      "Files: configuration in ${XDG_DATA_HOME:-~/.local/share}/Zelto/default.cfg (or the\n"
      "agent's \"ConfigurationDir\" setting), settings in\n"
      "${XDG_CONFIG_HOME:-~/.config}/Zelto/Preferences, logs in\n"
      "${XDG_STATE_HOME:-~/.local/state}/Zelto/Logs.");

  bool pretty = false;
  CLI::App* dump = app.add_subcommand(
      "dump",
      "Print the configuration as the agent loads it (defaults merged): exactly what a "
      "save would write");
  dump->add_flag("--pretty", pretty, "Indent the JSON for reading");

  std::string file;
  CLI::App* validate = app.add_subcommand(
      "validate", "Check that a configuration file loads; print \"valid\" or the reason");
  validate->add_option("FILE", file, "The file to check (default: the standard configuration)");

  std::string when;
  bool asJson = false;
  CLI::App* status =
      app.add_subcommand("status",
                         "What the controller answers now (or at --now): mode, remaining times, "
                         "schedules, and whether the watchdog would launch the application");
  status->add_option("--now", when,
                     "The moment to answer for (ISO 8601, e.g. 2026-12-09T08:56:00Z)");
  status->add_flag("--json", asJson, "One JSON object, for programs");

  int days = 7;
  CLI::App* scheduleCmd = app.add_subcommand(
      "schedule", "The scheduled blocking periods ahead, in local time, with a week grid");
  scheduleCmd->add_option("--now", when, "Start from this moment instead of now");
  scheduleCmd->add_option("--days", days, "How many days ahead (default 7)")
      ->check(CLI::Range(1, 366));

  std::vector<std::string> urls;
  bool explain = false;
  CLI::App* checkUrl = app.add_subcommand(
      "check-url",
      "Whether the current site lists block each URL: one line per URL, \"blocked\" or\n"
      "\"allowed\", a tab and the URL");
  checkUrl->add_option("URL", urls, "The addresses to decide, e.g. https://example.com/page")
      ->required();
  checkUrl->add_flag("--explain", explain,
                     "Add a tab and the rule that decided: 1 a \"+\" pattern, 2 a \"-\" pattern,\n"
                     "3 an allowing pattern (always-allowed addresses; every pattern of an\n"
                     "allow list), 4 a blocking pattern, 5 no pattern matched (blocked only with\n"
                     "an allow list); then a tab and the deciding pattern, lower-cased");

  // The commands that change blocking or the configuration.
  zelto::CommandRunner::Action chosen;
  zelto::BlockCommandLine::addTo(app, chosen);
  zelto::SiteCommandLine::addTo(app, chosen);
  zelto::AppCommandLine::addTo(app, chosen);
  zelto::ScheduleCommandLine::addTo(app, chosen);
  zelto::PortCommand::addTo(app, chosen);
  zelto::LogLevelCommand::addTo(app, chosen);
  zelto::GuardCommandLine::addTo(app, chosen);
  zelto::OpenCommand::addTo(app, chosen);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version end here too, with status 0; every other parse error is a usage
    // error, named on standard error by CLI11.
    return app.exit(e) == 0 ? 0 : zelto::CommandOutcome::kUsage;
  }

  // Work with the agent's own settings (its "ConfigurationDir" above all), so that what is
  // shown is what the agent sees.
  auto defaults = zelto::ProgramDefaults::of(zelto::ProgramDefaults::kAgentDomain);
  zelto::Env::ScopedOverride asTheAgent(
      zelto::Env::Services{.standardUserDefaults = defaults.get()});

  if (dump->parsed()) return dumpCommand(pretty);
  if (validate->parsed()) return validateCommand(file);
  if (status->parsed()) return statusCommand(when, asJson);
  if (scheduleCmd->parsed()) return scheduleCommand(when, days);
  if (checkUrl->parsed()) return checkUrlCommand(urls, explain);
  if (chosen) return chosen();
  std::printf("%s", app.help().c_str());
  return 0;
}
