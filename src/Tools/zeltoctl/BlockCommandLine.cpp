#include "Tools/zeltoctl/BlockCommandLine.h"

#include <memory>
#include <string>

#include "App/Commands/BlockCommands.h"

namespace zelto {

void BlockCommandLine::addTo(CLI::App& app, CommandRunner::Action& chosen) {
  auto asJson = std::make_shared<bool>(false);
  auto startOptions = std::make_shared<BlockCommands::StartOptions>();
  CLI::App* start = app.add_subcommand(
      "start",
      "Start blocking: until stopped, or as a timer (--for 25m, --until 17:30).\n"
      "Example: zeltoctl start --for 1h30m --hardcore --must-complete");
  CLI::Option* forOption =
      start->add_option("--for", startOptions->forText,
                        "How long: digits and units d, h, m, s, largest first (25m, 1h30m, 2d)");
  start
      ->add_option("--until", startOptions->untilText,
                   "Until when: HH:MM local time (today, or tomorrow when it has passed) or\n"
                   "ISO 8601 with an offset (2026-12-09T17:30:00+01:00)")
      ->excludes(forOption);
  start->add_flag("--hardcore", startOptions->hardcore,
                  "Hardcore mode: a scheduled period can't be ended early, nor a timer with\n"
                  "--must-complete");
  start->add_flag("--must-complete", startOptions->mustComplete,
                  "With --hardcore, the timer can't be stopped before its end");
  start->add_flag("--json", *asJson, "Print the report as JSON");
  start->callback([&chosen, asJson, startOptions] {
    chosen = [asJson, startOptions] {
      return CommandRunner::edit(*asJson, [startOptions](Zelto& zelto) {
        return BlockCommands::start(zelto, *startOptions);
      });
    };
  });

  CLI::App* stop = app.add_subcommand(
      "stop",
      "End blocking now (refused while hardcore mode locks it). Schedules in force are\n"
      "switched off; \"zeltoctl schedules enable ID\" switches one on again");
  stop->add_flag("--json", *asJson, "Print the report as JSON");
  stop->callback([&chosen, asJson] {
    chosen = [asJson] { return CommandRunner::edit(*asJson, BlockCommands::stop); };
  });

  auto breakOptions = std::make_shared<BlockCommands::BreakOptions>();
  CLI::App* takeBreak = app.add_subcommand(
      "break",
      "Take a break from blocking, within the break allowance (allowed while locked).\n"
      "Example: zeltoctl break --for 5m");
  takeBreak->add_option("--for", breakOptions->forText,
                        "How long (5m, 90s); default: the break length of the settings");
  takeBreak->add_flag("--json", *asJson, "Print the report as JSON");
  takeBreak->callback([&chosen, asJson, breakOptions] {
    chosen = [asJson, breakOptions] {
      return CommandRunner::edit(*asJson, [breakOptions](Zelto& zelto) {
        return BlockCommands::takeBreak(zelto, *breakOptions);
      });
    };
  });

  CLI::App* unbreak = app.add_subcommand(
      "unbreak", "End the running break early; its unused time returns to the allowance");
  unbreak->add_flag("--json", *asJson, "Print the report as JSON");
  unbreak->callback([&chosen, asJson] {
    chosen = [asJson] { return CommandRunner::edit(*asJson, BlockCommands::unbreak); };
  });
}

}  // namespace zelto
