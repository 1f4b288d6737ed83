#include "App/Commands/ScheduleCommands.h"

#include <fmt/format.h>

#include <algorithm>
#include <memory>
#include <set>

#include "App/Commands/BlockState.h"
#include "App/Commands/LockRefusal.h"
#include "App/Commands/ScheduleArguments.h"
#include "App/Commands/ScheduleZoneShift.h"
#include "App/Controller/ChangePolicy.h"
#include "App/Data/Preferences/JSONValues.h"
#include "App/Data/Schedules/NSDateComponentsHelpers.h"
#include "App/Data/Schedules/Schedule.h"
#include "Platform/DateCalendar.h"
#include "Platform/UUID.h"

namespace zelto {

namespace {

using json = nlohmann::json;

// The IDs of the schedules behind the scheduled run in force now (the controller's active
// chain): those that keep a running period going.
std::set<std::string> inForceIds(Zelto& zelto) {
  std::set<std::string> ids;
  zelto.updateSchedule();  // the records may have changed since it was built
  if (zelto.isScheduleBlocked() && zelto.activeScheduleChain) {
    for (const auto& item : zelto.activeScheduleChain->items()) ids.insert(item.uniqueID());
  }
  return ids;
}

// When the record blocks next, seen from now in the controller's zone: the start of its first
// period not over yet and the end of the unbroken run it begins.
std::optional<std::pair<Date, Date>> nextRun(Zelto& zelto, const ScheduleZeltoPreferences& record) {
  const std::string zone = zelto.timeZone();
  const Date now = zelto.now();
  auto periods = record.normalizeWithStartDate(DateCalendar::dateByAddingDays(now, -1, zone),
                                               DateCalendar::dateByAddingDays(now, 8, zone), zone);
  for (const auto& period : periods) {
    if (!period.toDate().isGreaterDate(now)) continue;
    Date from = std::max(period.fromDate(), now);
    auto last = Schedule(periods, zone).getLastActiveScheduleItemFromDate(from);
    return std::make_pair(period.fromDate(), last ? last->toDate() : period.toDate());
  }
  return std::nullopt;
}

}  // namespace

CommandOutcome ScheduleCommands::list(Zelto& zelto) {
  ZeltoPreferences* prefs = zelto.prefs();
  if (prefs == nullptr) return CommandOutcome::refused("The configuration can't be read.");
  const std::set<std::string> inForce = inForceIds(zelto);
  json schedules = json::array();
  std::string text;
  for (const auto& record : prefs->getAllSortedSchedules()) {
    schedules.push_back(ScheduleArguments::toJson(record, inForce));
    text += fmt::format("{:<36}  {:<3}  {}{}\n", record.uniqueID, record.isEnabled ? "on" : "off",
                        ScheduleArguments::describe(record),
                        inForce.count(record.uniqueID) ? "  -- in force now" : "");
  }
  text = schedules.empty() ? "No schedules.\n"
                           : fmt::format("Schedules (times in {}):\n", zelto.timeZone()) + text;
  return CommandOutcome::done(schedules, text);
}

CommandOutcome ScheduleCommands::add(Zelto& zelto, const AddOptions& options) {
  auto types = ScheduleArguments::parseDays(options.days);
  if (!types) {
    return CommandOutcome::usage(
        fmt::format("--days: \"{}\" is not a choice of days; use weekdays, weekends, daily or a "
                    "comma list of mon,tue,wed,thu,fri,sat,sun",
                    options.days));
  }
  auto from = ScheduleArguments::parseTime(options.from);
  auto to = ScheduleArguments::parseTime(options.to);
  for (const auto& [name, text, minutes] :
       {std::tuple("--from", options.from, from), std::tuple("--to", options.to, to)}) {
    if (!minutes) {
      return CommandOutcome::usage(fmt::format(
          "{}: \"{}\" is not a time of day; use HH:MM from 00:00 to 23:59", name, text));
    }
  }
  const std::string localZone = zelto.timeZone();
  if (!options.zone.empty() && !DateCalendar::knowsTimeZone(options.zone)) {
    return CommandOutcome::usage(fmt::format(
        "--zone: \"{}\" is not a known time zone; use an IANA name such as Europe/London",
        options.zone));
  }
  ZeltoPreferences* prefs = zelto.prefs();
  ProfileZeltoPreferences* profile = prefs ? prefs->defaultProfile() : nullptr;
  if (profile == nullptr) return CommandOutcome::refused("The configuration can't be read.");

  // Work everything out before changing the record, so that a refusal changes nothing.
  std::vector<ScheduleZeltoPreferences> made;
  std::vector<ScheduleZoneShift> shifts;
  uint64_t sortIndex = 0;
  for (const auto& record : prefs->getAllSortedSchedules()) {
    sortIndex = std::max(sortIndex, record.sortIndex + 1);
  }
  for (int32_t type : *types) {
    ScheduleZoneShift shift;
    shift.fromMinutes = *from;
    shift.toMinutes = *to;
    if (!options.zone.empty()) {
      auto shifted =
          ScheduleZoneShift::shift(type, *from, *to, options.zone, localZone, zelto.now());
      if (!shifted.ok()) return CommandOutcome::usage(shifted.status().message());
      shift = *shifted;
    }
    ScheduleZeltoPreferences record;
    record.isEnabled = true;
    record.sortIndex = sortIndex++;
    record.scheduleType = type;
    record.fromDate =
        NSDateComponentsHelpers::initWithHourMinute(shift.fromMinutes / 60, shift.fromMinutes % 60);
    record.toDate =
        NSDateComponentsHelpers::initWithHourMinute(shift.toMinutes / 60, shift.toMinutes % 60);
    record.uniqueID = UUID::generateString();
    made.push_back(std::move(record));
    shifts.push_back(shift);
  }
  profile->schedules.insert(profile->schedules.end(), made.begin(), made.end());
  if (Status saved = zelto.save(); !saved.ok()) return CommandOutcome::refused(saved.message());

  const std::set<std::string> inForce = inForceIds(zelto);
  json added = json::array();
  std::string text;
  for (size_t i = 0; i < made.size(); ++i) {
    json one = ScheduleArguments::toJson(made[i], inForce);
    text += fmt::format("Added schedule {}: {}", made[i].uniqueID,
                        ScheduleArguments::describe(made[i]));
    if (auto run = nextRun(zelto, made[i])) {
      one["next"] = {{"from", JSONValues::formatDate(run->first)},
                     {"to", JSONValues::formatDate(run->second)}};
      text +=
          run->first.isGreaterDate(zelto.now())
              ? fmt::format(", next blocking starts {} and ends {}",
                            BlockState::whenText(zelto, run->first),
                            BlockState::whenText(zelto, run->second))
              : fmt::format(", blocking now; it ends {}", BlockState::whenText(zelto, run->second));
    }
    text += ".\n";
    if (!options.zone.empty()) {
      one["given"] = {{"from", options.from},
                      {"to", options.to},
                      {"zone", options.zone},
                      {"zoneOffset", ScheduleZoneShift::offsetText(shifts[i].zoneOffset)},
                      {"localOffset", ScheduleZoneShift::offsetText(shifts[i].localOffset)}};
    }
    added.push_back(std::move(one));
  }
  if (!options.zone.empty()) {
    text += fmt::format(
        "Times given in {} ({}) are kept as local times in {} ({}), {}-{} there being {}-{} "
        "here. The conversion holds for "
        "the offsets in force now: zones that change their clocks on different dates drift "
        "apart by an hour for a few weeks a year.\n",
        options.zone, ScheduleZoneShift::offsetText(shifts.front().zoneOffset), localZone,
        ScheduleZoneShift::offsetText(shifts.front().localOffset), options.from, options.to,
        ScheduleArguments::timeText(shifts.front().fromMinutes),
        ScheduleArguments::timeText(shifts.front().toMinutes));
  }
  return CommandOutcome::done({{"added", added}, {"timeZone", localZone}}, text);
}

CommandOutcome ScheduleCommands::change(Zelto& zelto, const std::string& id, Change what) {
  ZeltoPreferences* prefs = zelto.prefs();
  if (prefs == nullptr) return CommandOutcome::refused("The configuration can't be read.");
  std::optional<ScheduleZeltoPreferences> found;
  for (const auto& profile : prefs->profiles) {
    for (const auto& record : profile.schedules) {
      if (record.uniqueID == id && !found) found = record;
    }
  }
  if (!found) {
    return CommandOutcome::refused(fmt::format(
        "There is no schedule with ID \"{}\"; \"zeltoctl schedules list\" shows them.", id));
  }

  zelto.updateSchedule();
  const BlockState state = BlockState::observe(zelto);
  using Kind = ChangePolicy::Change::Kind;
  const Kind kind = what == Change::kEnable   ? Kind::kEnableSchedule
                    : what == Change::kRemove ? Kind::kRemoveSchedule
                                              : Kind::kDisableSchedule;
  if (!ChangePolicy::decide(zelto, state, {.kind = kind, .subject = id}).allowed()) {
    const std::string action = what == Change::kRemove ? "Removing" : "Disabling";
    json report = {{"endsAt", state.toJson()["endsAt"]}};
    return CommandOutcome::refused(
        LockRefusal::message(zelto, state, fmt::format("{} schedule {}", action, id)), report);
  }

  const bool enable = what == Change::kEnable;
  bool changed = false;
  for (auto& profile : prefs->profiles) {
    auto& records = profile.schedules;
    if (what == Change::kRemove) {
      auto kept = std::remove_if(records.begin(), records.end(),
                                 [&](const auto& record) { return record.uniqueID == id; });
      changed = changed || kept != records.end();
      records.erase(kept, records.end());
      continue;
    }
    for (auto& record : records) {
      if (record.uniqueID == id && record.isEnabled != enable) {
        record.isEnabled = enable;
        changed = true;
      }
    }
  }
  if (changed) {
    if (Status saved = zelto.save(); !saved.ok()) return CommandOutcome::refused(saved.message());
  }

  if (what == Change::kRemove) {
    return CommandOutcome::done(
        {{"removed", ScheduleArguments::toJson(*found, {})}},
        fmt::format("Removed schedule {}: {}.\n", id, ScheduleArguments::describe(*found)));
  }
  found->isEnabled = enable;

  return CommandOutcome::done(
      {{"schedule", ScheduleArguments::toJson(*found, inForceIds(zelto))}, {"changed", changed}},
      fmt::format("Schedule {} ({}) {} {}.\n", id, ScheduleArguments::describe(*found),
                  changed ? "is now" : "was already", enable ? "on" : "off"));
}

}  // namespace zelto

namespace zelto {}  // namespace zelto
