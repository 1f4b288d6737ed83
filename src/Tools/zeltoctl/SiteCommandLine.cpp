#include "Tools/zeltoctl/SiteCommandLine.h"

#include <memory>
#include <string>

#include "App/Commands/SiteCommands.h"

namespace zelto {

void SiteCommandLine::addTo(CLI::App& app, CommandRunner::Action& chosen) {
  auto options = std::make_shared<SiteCommands::Options>();
  auto asJson = std::make_shared<bool>(false);
  CLI::App* sites = app.add_subcommand(
      "sites",
      "List or edit the site patterns: the blocked sites, or with --allow the allow list\n"
      "(in allow-list mode every site it leaves out is blocked)");
  sites->require_subcommand(1);
  sites->footer(
      "Patterns: \"example.com\" (with its www and any path), \"example.com/\" (that page\n"
      "only), \"*.example.com\" (any subdomain), \"/expression/\" (an ICU regular expression),\n"
      "\"+pattern\" (allowed even when another pattern blocks), \"-pattern\" (blocked even\n"
      "when the allow list allows). Put \"--\" before a pattern that starts with \"-\".");
  auto flags = [&](CLI::App* command) {
    command->add_flag("--allow", options->allow, "The allow list instead of the blocked sites");
    command->add_flag("--json", *asJson, "One JSON object, for programs");
  };
  using Function = CommandOutcome (*)(Zelto&, const SiteCommands::Options&);
  auto choose = [&chosen, options, asJson](Function function, bool edits) {
    chosen = [options, asJson, function, edits] {
      options->textOnly = !*asJson;
      auto command = [options, function](Zelto& zelto) { return function(zelto, *options); };
      return edits ? CommandRunner::edit(*asJson, command) : CommandRunner::read(*asJson, command);
    };
  };

  CLI::App* list = sites->add_subcommand("list",
                                         "One pattern a line, after a line telling "
                                         "whether the list is in force");
  flags(list);
  list->callback([choose] { choose(&SiteCommands::list, false); });

  CLI::App* add = sites->add_subcommand(
      "add", "Add patterns, e.g. zeltoctl sites add example.com '*.example.org'");
  flags(add);
  add->add_option("PATTERN", options->patterns, "The patterns to add")->required();
  add->callback([choose] { choose(&SiteCommands::add, true); });

  CLI::App* remove = sites->add_subcommand(
      "remove",
      "Remove patterns, written exactly as listed, e.g. zeltoctl sites remove "
      "example.com");
  flags(remove);
  remove->add_option("PATTERN", options->patterns, "The patterns to remove")->required();
  remove->callback([choose] { choose(&SiteCommands::remove, true); });

  auto on = std::make_shared<std::string>();
  CLI::App* allowList = app.add_subcommand(
      "allow-list",
      "Switch allow-list mode on (every site not on the allow list is blocked) or off (the\n"
      "blocked sites are blocked); see zeltoctl sites --help");
  allowList->add_option("MODE", *on, "on or off")->required()->check(CLI::IsMember({"on", "off"}));
  allowList->add_flag("--json", *asJson, "One JSON object, for programs");
  allowList->callback([&chosen, on, asJson] {
    chosen = [on, asJson] {
      return CommandRunner::edit(
          *asJson, [on](Zelto& zelto) { return SiteCommands::setAllowList(zelto, *on == "on"); });
    };
  });
}

}  // namespace zelto
