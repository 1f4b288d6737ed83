#include "Tools/zeltoctl/ScheduleCommandLine.h"

#include <memory>
#include <string>
#include <tuple>

#include "App/Commands/ScheduleCommands.h"

namespace zelto {

void ScheduleCommandLine::addTo(CLI::App& app, CommandRunner::Action& chosen) {
  CLI::App* schedules = app.add_subcommand(
      "schedules",
      "List, add, remove, enable or disable the weekly blocking schedules (times in local time)");
  schedules->require_subcommand(1);
  auto asJson = std::make_shared<bool>(false);
  auto jsonFlag = [asJson](CLI::App* command) {
    command->add_flag("--json", *asJson, "One JSON object, for programs");
  };

  CLI::App* listCmd = schedules->add_subcommand(
      "list", "Every schedule of every profile: ID, days, from-to, on or off, in force now");
  jsonFlag(listCmd);
  listCmd->callback([&chosen, asJson] {
    chosen = [asJson] { return CommandRunner::read(*asJson, ScheduleCommands::list); };
  });

  auto add = std::make_shared<ScheduleCommands::AddOptions>();
  CLI::App* addCmd = schedules->add_subcommand(
      "add", "Add a schedule: blocking on the given days from one time to another");
  addCmd->footer(
      "Examples:\n"
      "  zeltoctl schedules add --days weekdays --from 09:00 --to 17:00\n"
      "  zeltoctl schedules add --days mon,wed --from 22:00 --to 06:00\n"
      "      overnight: 00:00-06:00 and 22:00-24:00 of each day named\n"
      "  zeltoctl schedules add --days sat --from 00:00 --to 00:00\n"
      "      the whole day\n"
      "  zeltoctl schedules add --days fri --from 09:00 --to 12:00 --zone America/New_York\n"
      "Days that are not exactly the weekdays, the weekend or every day make one schedule per\n"
      "day. The new schedules are on, after the others.");
  addCmd->add_option("--days", add->days, "weekdays, weekends, daily, or e.g. mon,wed,fri")
      ->required();
  addCmd->add_option("--from", add->from, "Start, HH:MM (00:00 to 23:59)")->required();
  addCmd->add_option("--to", add->to, "End, HH:MM; before the start: overnight; equal: whole day")
      ->required();
  addCmd->add_option("--zone", add->zone,
                     "The times are in this zone (e.g. America/New_York): converted to local\n"
                     "time by the difference in UTC offsets at the next occurrence; refused\n"
                     "when they would fall on another day");
  jsonFlag(addCmd);
  addCmd->callback([&chosen, asJson, add] {
    chosen = [asJson, add] {
      return CommandRunner::edit(
          *asJson, [add](Zelto& zelto) { return ScheduleCommands::add(zelto, *add); });
    };
  });

  auto id = std::make_shared<std::string>();
  for (auto [name, what, help] :
       {std::tuple("remove", ScheduleCommands::Change::kRemove,
                   "Remove a schedule (refused while blocking is locked and it keeps blocking on)"),
        std::tuple("enable", ScheduleCommands::Change::kEnable, "Switch a schedule on"),
        std::tuple("disable", ScheduleCommands::Change::kDisable,
                   "Switch a schedule off (refused while blocking is locked and it keeps blocking "
                   "on)")}) {
    CLI::App* command = schedules->add_subcommand(name, help);
    command->add_option("ID", *id, "The schedule's ID, as \"zeltoctl schedules list\" shows it")
        ->required();
    jsonFlag(command);
    command->callback([&chosen, asJson, id, what = what] {
      chosen = [asJson, id, what] {
        return CommandRunner::edit(*asJson, [id, what](Zelto& zelto) {
          return ScheduleCommands::change(zelto, *id, what);
        });
      };
    });
  }
}

}  // namespace zelto
