// Breaks from a running blocking period: taking one within the allowance, and ending one early.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "App/Commands/BlockCommands.h"
#include "App/Commands/BlockReport.h"
#include "App/Commands/BlockState.h"
#include "App/Commands/TimeArguments.h"
#include "App/Controller/ChangePolicy.h"
#include "App/Data/Schedules/NSTimeIntervalFormatter.h"

namespace zelto {

CommandOutcome BlockCommands::takeBreak(Zelto& zelto, const BreakOptions& options) {
  ZeltoPreferences* prefs = zelto.prefs();
  if (prefs == nullptr) return CommandOutcome::refused("The configuration can't be loaded");
  double wanted = static_cast<double>(prefs->breakInterval);
  if (!options.forText.empty()) {
    auto parsed = TimeArguments::parseDuration(options.forText);
    if (!parsed.ok()) return CommandOutcome::usage("--for: " + parsed.status().message());
    wanted = *parsed;
  }
  const BlockState before = BlockState::observe(zelto);
  if (!before.running)
    return CommandOutcome::refused("Blocking is not on: there is nothing to break from.");
  if (prefs->disableBreaks)
    return CommandOutcome::refused("Breaks are switched off in the settings.");
  if (ChangePolicy::decide(zelto, before, {.kind = ChangePolicy::Change::Kind::kTakeBreak})
          .refusal == ChangePolicy::Decision::Refusal::kMustComplete) {
    return CommandOutcome::refused(
        "This session must be completed (hardcore mode): it takes no breaks; it ends " +
        BlockState::whenText(zelto, before.endsAt) + ".");
  }
  if (before.breaking) {
    return CommandOutcome::refused("A break is already running; it ends " +
                                       BlockState::whenText(zelto, before.breakEndsAt) + ".",
                                   {{"breakEndsAt", BlockReport::dateJson(before.breakEndsAt)}});
  }
  if (wanted <= 0) {
    return CommandOutcome::usage("The break length of the settings is zero; give one with --for");
  }
  const std::string length = NSTimeIntervalFormatter::relativeTimeForInterval(wanted);
  const double allowed = zelto.getAllowedBreakTime();
  const std::string left = NSTimeIntervalFormatter::relativeTimeForInterval(allowed);
  if (wanted > allowed) {
    const double wait = zelto.getTimeIntervalToNextBreak(wanted);
    nlohmann::json report = {{"allowed", allowed}, {"wanted", wanted}};
    if (wait < 0) {
      return CommandOutcome::refused(
          fmt::format("A break of {} is longer than the whole allowance of {}.", length,
                      NSTimeIntervalFormatter::relativeTimeForInterval(
                          static_cast<double>(prefs->breakTotalAllowedInterval))),
          std::move(report));
    }
    const Date possibleAt = zelto.now().addingTimeInterval(wait);
    report["possibleAt"] = BlockReport::dateJson(possibleAt);
    return CommandOutcome::refused(
        fmt::format("{} of break time left; a break of {} is possible {}.", left, length,
                    BlockState::whenText(zelto, possibleAt)),
        std::move(report));
  }

  const Date now = zelto.now();
  prefs->zeltoUnbreakDate = now.addingTimeInterval(wanted);
  prefs->lastBreakDate = now;
  prefs->sessions.push_back(
      ZeltoSessionPreferences::initWithDate(now, wanted, Zelto::kBreakSessionType));
  prefs->did_use_break = true;
  const BlockState after = BlockState::observe(zelto);
  const double remaining = zelto.getAllowedBreakTime();
  return BlockReport::saved(
      zelto,
      {{"breakEndsAt", BlockReport::dateJson(after.breakEndsAt)},
       {"allowedLeft", remaining},
       {"state", after.toJson()}},
      fmt::format("On a break {}; {} of break time left.\n",
                  BlockReport::untilText(zelto, after.breakEndsAt),
                  NSTimeIntervalFormatter::relativeTimeForInterval(remaining)));
}

CommandOutcome BlockCommands::unbreak(Zelto& zelto) {
  ZeltoPreferences* prefs = zelto.prefs();
  const BlockState before = BlockState::observe(zelto);
  if (prefs == nullptr || !before.breaking) {
    return CommandOutcome::done({{"unbroken", false}, {"state", before.toJson()}},
                                "No break is running.\n");
  }
  const Date now = zelto.now();
  prefs->zeltoUnbreakDate.reset();
  prefs->lastUnbreakDate = now;
  // The break's session keeps only the time taken, so the rest returns to the allowance: the
  // latest break session, the one this break made.
  double taken = 0;
  for (auto it = prefs->sessions.rbegin(); it != prefs->sessions.rend(); ++it) {
    if (it->zeltoType != Zelto::kBreakSessionType) continue;
    taken = std::max(0.0, std::ceil(now.timeIntervalSinceDate(it->date)));
    if (!it->interval.is_number() || taken < it->interval.get<double>()) it->interval = taken;
    break;
  }
  const BlockState after = BlockState::observe(zelto);
  const double remaining = zelto.getAllowedBreakTime();
  return BlockReport::saved(
      zelto,
      {{"unbroken", true}, {"taken", taken}, {"allowedLeft", remaining}, {"state", after.toJson()}},
      fmt::format("The break is over after {}; {} of break time left.\n{}\n",
                  NSTimeIntervalFormatter::relativeTimeForInterval(taken),
                  NSTimeIntervalFormatter::relativeTimeForInterval(remaining),
                  BlockReport::stateText(zelto, after)));
}

}  // namespace zelto
