#include "MainApp/BlockingMonitor.h"

#include "Platform/Log.h"
#include "Tools/zeltoctl/BlockState.h"

namespace zelto {

BlockingMonitor::BlockingMonitor(RunLoop& loop, Zelto& zelto, Phase initial, PhaseHandler onChange)
    : loop_(loop), zelto_(zelto), phase_(initial), onChange_(std::move(onChange)) {}

const char* BlockingMonitor::phaseName(Phase phase) {
  switch (phase) {
    case Phase::kOff:
      return "off";
    case Phase::kBreak:
      return "break";
    case Phase::kEnforcing:
      return "blocking";
  }
  return "off";
}

BlockingMonitor::Phase BlockingMonitor::phaseNamed(const std::string& name) {
  if (name == "blocking") return Phase::kEnforcing;
  if (name == "break") return Phase::kBreak;
  return Phase::kOff;
}

void BlockingMonitor::evaluate() {
  zelto_.refreshPrefs();
  const BlockState state = BlockState::observe(zelto_);
  const Phase next =
      !state.running ? Phase::kOff : (state.breaking ? Phase::kBreak : Phase::kEnforcing);
  const Phase previous = phase_;
  phase_ = next;
  if (next != previous) {
    log::info("Blocking phase: {} -> {}", phaseName(previous), phaseName(next));
    if (onChange_) onChange_(previous, next);
  }

  timer_.reset();
  nextMoment_ = foreseeNextMoment(state);
  if (!nextMoment_) {
    log::debug("No change of the blocking phase foreseen");
    return;
  }
  const double delay = nextMoment_->timeIntervalSinceDate(zelto_.now()) + kMomentMargin;
  log::debug("Next look at the blocking phase in {:.3f}s", delay);
  timer_ = loop_.addTimer(delay, 0, [this] { evaluate(); });
}

std::optional<Date> BlockingMonitor::foreseeNextMoment(const BlockState& state) {
  const Date now = zelto_.now();
  std::optional<Date> earliest;
  auto consider = [&](std::optional<Date> moment) {
    // A moment already past would make the timer fire at once, again and again.
    if (!moment || !moment->isGreaterDate(now)) return;
    if (!earliest || earliest->isGreaterDate(*moment)) earliest = moment;
  };
  consider(state.endsAt);
  consider(state.breakEndsAt);
  const ZeltoPreferences* prefs = zelto_.prefs();
  // A timer's own end, even when a schedule keeps the period going past it: the phase doesn't
  // change then, but the evaluation costs nothing and keeps the rule simple.
  if (state.running && zelto_.isTimer() && prefs) consider(prefs->zeltoUnblockDate);
  const double untilBlock = zelto_.getTimeIntervalUntilBlock();
  if (untilBlock >= 0) consider(now.addingTimeInterval(untilBlock));
  return earliest;
}

}  // namespace zelto
