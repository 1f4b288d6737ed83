// Starting and ending a blocking period, and the commands' command line.
#include "App/Commands/BlockCommands.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "App/Commands/BlockReport.h"
#include "App/Commands/BlockState.h"
#include "App/Commands/GuardCommands.h"
#include "App/Commands/TimeArguments.h"
#include "App/Controller/ChangePolicy.h"

namespace zelto {

namespace {

constexpr int32_t kTimerType = 1;

}  // namespace

CommandOutcome BlockCommands::start(Zelto& zelto, const StartOptions& options) {
  ZeltoPreferences* prefs = zelto.prefs();
  if (prefs == nullptr) return CommandOutcome::refused("The configuration can't be loaded");
  const Date now = zelto.now();
  std::optional<double> length;
  if (!options.forText.empty()) {
    auto parsed = TimeArguments::parseDuration(options.forText);
    if (!parsed.ok()) return CommandOutcome::usage("--for: " + parsed.status().message());
    length = *parsed;
  } else if (!options.untilText.empty()) {
    auto parsed = TimeArguments::parseTime(options.untilText, now, zelto.timeZone());
    if (!parsed.ok()) return CommandOutcome::usage("--until: " + parsed.status().message());
    length = parsed->timeIntervalSinceDate(now);
    if (*length > TimeArguments::kMaxDuration) {
      return CommandOutcome::usage(
          fmt::format("--until: \"{}\" is too far ahead; at most 365 days", options.untilText));
    }
  }
  const BlockState before = BlockState::observe(zelto);

  prefs->lastZeltoDate = now;
  prefs->isUserInitiated = true;
  prefs->zeltoHardcoreMode = options.hardcore;
  prefs->zeltoMustCompleteSession = options.mustComplete;
  prefs->did_use_zelto = true;
  if (options.hardcore) prefs->did_use_hardcore_mode = true;
  if (length) {
    prefs->zeltoType = kTimerType;
    prefs->did_use_timer = true;
    // The unblock date the timer's set-up below gives it, already here so that the check of a
    // locked period sees the timer before anything is saved.
    prefs->zeltoUnblockDate = now.addingTimeInterval(*length);
  } else {
    prefs->zeltoType = 0;
    prefs->lastUnzeltoDate.reset();
    prefs->zeltoUnblockDate.reset();
  }
  // Only a locked period needs the phase the start would make.
  if (before.locked && !ChangePolicy::decide(zelto, before,
                                             {.kind = ChangePolicy::Change::Kind::kStart,
                                              .after = BlockState::observe(zelto)})
                            .allowed()) {
    prefs->discardUnsavedChanges().ignoreError();
    BlockState::observe(zelto);
    return BlockReport::lockedRefusal(zelto, before, "A start that would loosen blocking");
  }
  if (length) {
    zelto.timerInterval = *length;
    zelto.isZeltoing = true;
    zelto.setupTimerInformation();
    // The switch-off is planned for the timer's end: without it, "switched on and never off"
    // would keep blocking on after the timer when no main application is there to end it.
    prefs->lastUnzeltoDate = prefs->zeltoUnblockDate;
  }
  const BlockState after = BlockState::observe(zelto);
  nlohmann::json report = {{"started", length ? "timer" : "normal"}, {"state", after.toJson()}};
  CommandOutcome outcome =
      BlockReport::saved(zelto, std::move(report), BlockReport::stateText(zelto, after) + "\n");
  // A timer that must be completed is handed to the system guard, which holds it whatever
  // happens to this user's programs and files.
  if (outcome.ok() && length && options.hardcore && options.mustComplete && after.endsAt) {
    GuardCommands::handOver(zelto, *after.endsAt, outcome);
  }
  return outcome;
}

CommandOutcome BlockCommands::stop(Zelto& zelto) {
  ZeltoPreferences* prefs = zelto.prefs();
  const BlockState before = BlockState::observe(zelto);
  if (prefs == nullptr || !before.running) {
    return CommandOutcome::done({{"stopped", false}, {"state", before.toJson()}},
                                "Blocking is not on.\n");
  }
  if (!ChangePolicy::decide(zelto, before, {.kind = ChangePolicy::Change::Kind::kStop}).allowed()) {
    return BlockReport::lockedRefusal(zelto, before, "Stopping");
  }

  const Date now = zelto.now();
  const int32_t type = prefs->zeltoType;
  // The start of this period, when the record has it: a switch-off that has already passed
  // belongs to an earlier period (a scheduled one has no start of its own here).
  const bool startKnown =
      prefs->lastZeltoDate &&
      !(prefs->lastUnzeltoDate && prefs->lastUnzeltoDate->isLessOrEqualToDate(now));
  const Date startedAt = prefs->lastZeltoDate.value_or(now);
  nlohmann::json switchedOff = nlohmann::json::array();
  if (before.scheduled && zelto.activeScheduleChain) {
    for (const auto& item : zelto.activeScheduleChain->items()) {
      if (std::find(switchedOff.begin(), switchedOff.end(), item.uniqueID()) == switchedOff.end()) {
        switchedOff.push_back(item.uniqueID());
      }
    }
    if (!zelto.disableActiveScheduleChain()) switchedOff = nlohmann::json::array();
  }
  zelto.resetTimerInformation();
  prefs->lastUnzeltoDate = now;
  prefs->zeltoUnbreakDate.reset();
  if (startKnown) {
    prefs->sessions.push_back(ZeltoSessionPreferences::initWithDate(
        startedAt, std::ceil(now.timeIntervalSinceDate(startedAt)), type));
  }
  const BlockState after = BlockState::observe(zelto);
  std::string text = "Blocking is off.\n";
  if (!switchedOff.empty()) {
    std::string ids;
    for (const auto& id : switchedOff) ids += (ids.empty() ? "" : ", ") + id.get<std::string>();
    text += fmt::format(
        "The schedules in force are switched off: {}. \"zeltoctl schedules enable ID\" switches "
        "one on again.\n",
        ids);
  }
  if (after.running) text += BlockReport::stateText(zelto, after) + "\n";
  return BlockReport::saved(
      zelto, {{"stopped", true}, {"schedulesSwitchedOff", switchedOff}, {"state", after.toJson()}},
      std::move(text));
}

}  // namespace zelto
