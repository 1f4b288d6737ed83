#include "Tools/zeltoctl/AppCommandLine.h"

#include <memory>
#include <string>

#include "App/Commands/AppCommands.h"
#include "Platform/ProcessInfo.h"

namespace zelto {

void AppCommandLine::addTo(CLI::App& app, CommandRunner::Action& chosen) {
  auto options = std::make_shared<AppCommands::Options>();
  auto asJson = std::make_shared<bool>(false);
  auto reopen = std::make_shared<bool>(false);
  auto noReopen = std::make_shared<bool>(false);
  CLI::App* apps = app.add_subcommand(
      "apps", "List or edit the applications that are made to quit while blocking is on");
  apps->require_subcommand(1);
  using Function = CommandOutcome (*)(Zelto&, const AppCommands::Options&);
  auto choose = [&chosen, options, asJson, reopen, noReopen](Function function, bool edits) {
    chosen = [options, asJson, reopen, noReopen, function, edits] {
      if (*reopen || *noReopen) options->reopen = *reopen;
      options->workingDirectory = ProcessInfo::currentDirectory().value_or("");
      auto command = [options, function](Zelto& zelto) { return function(zelto, *options); };
      return edits ? CommandRunner::edit(*asJson, command) : CommandRunner::read(*asJson, command);
    };
  };

  CLI::App* list = apps->add_subcommand(
      "list",
      "One application a line: its path and how it is blocked (hide, force-quit,\n"
      "soft-quit or quit; reopen: started again when blocking ends)");
  list->add_flag("--json", *asJson, "One JSON object, for programs");
  list->callback([choose] { choose(&AppCommands::list, false); });

  CLI::App* add = apps->add_subcommand(
      "add",
      "Block applications, e.g. zeltoctl apps add /usr/bin/firefox --force-quit\n"
      "A path already listed gets the flags given. Without flags a new application is made to\n"
      "quit, and reopened when blocking ends.");
  add->add_option("PATH", options->paths,
                  "An executable, a .desktop file or an application bundle directory")
      ->required();
  CLI::Option* quit = add->add_flag(
      "--quit", options->quit, "Ask it to quit, and force it if it doesn't (the default when new)");
  CLI::Option* hide =
      add->add_flag("--hide", options->hide, "Hide it (stop it, frozen) instead of quitting it");
  CLI::Option* force = add->add_flag("--force-quit", options->forceQuit, "Always force it to quit");
  CLI::Option* soft = add->add_flag("--soft-quit", options->softQuit,
                                    "Only ask it to quit, and leave it open if it doesn't");
  quit->excludes(hide)->excludes(force)->excludes(soft);
  hide->excludes(force)->excludes(soft);
  force->excludes(soft);
  CLI::Option* yes = add->add_flag("--reopen", *reopen, "Start it again when blocking ends");
  CLI::Option* no = add->add_flag("--no-reopen", *noReopen, "Don't start it again");
  yes->excludes(no);
  add->add_flag("--json", *asJson, "One JSON object, for programs");
  add->callback([choose] { choose(&AppCommands::add, true); });

  CLI::App* remove = apps->add_subcommand(
      "remove", "Stop blocking applications, e.g. zeltoctl apps remove /usr/bin/firefox");
  remove->add_option("PATH", options->paths, "The paths as listed (or relative to here)")
      ->required();
  remove->add_flag("--json", *asJson, "One JSON object, for programs");
  remove->callback([choose] { choose(&AppCommands::remove, true); });
}

}  // namespace zelto
