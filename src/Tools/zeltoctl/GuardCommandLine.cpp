#include "Tools/zeltoctl/GuardCommandLine.h"

#include <memory>
#include <string>

#include "App/Commands/GuardCommands.h"

namespace zelto {

void GuardCommandLine::addTo(CLI::App& app, CommandRunner::Action& chosen) {
  CLI::App* guard = app.add_subcommand(
      "guard",
      "The system guard (zelto-guard.service), which holds locked blocks at the system level");
  guard->require_subcommand(1);
  auto asJson = std::make_shared<bool>(false);
  CLI::App* status = guard->add_subcommand("status", "What the system guard enforces for you");
  status->add_flag("--json", *asJson, "Print the report as JSON");
  status->callback([&chosen, asJson] {
    chosen = [asJson] { return CommandRunner::read(*asJson, GuardCommands::status); };
  });
  auto user = std::make_shared<std::string>();
  CLI::App* release = guard->add_subcommand(
      "release", "End a user's lock before its end (root only: sudo zeltoctl guard release)");
  release->add_option("--user", *user, "The user, by name or ID (default: the one who ran sudo)");
  release->add_flag("--json", *asJson, "Print the report as JSON");
  release->callback([&chosen, asJson, user] {
    chosen = [asJson, user] {
      return CommandRunner::print(GuardCommands::release(*user), *asJson);
    };
  });
}

}  // namespace zelto
