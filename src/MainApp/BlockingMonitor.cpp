#include "MainApp/BlockingMonitor.h"

#include "Platform/Log.h"

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
  const BlockingPhase observed = BlockingPhase::of(zelto_);
  zelto_.isZeltoing = observed.running;
  const Phase next = observed.kind == BlockingPhase::Kind::kEnforcing ? Phase::kEnforcing
                     : observed.kind == BlockingPhase::Kind::kBreak   ? Phase::kBreak
                                                                      : Phase::kOff;
  const Phase previous = phase_;
  phase_ = next;
  if (next != previous) {
    log::info("Blocking phase: {} -> {}", phaseName(previous), phaseName(next));
    if (onChange_) onChange_(previous, next);
  }

  timer_.reset();
  nextMoment_ = foreseeNextMoment(observed);
  if (!nextMoment_) {
    log::debug("No change of the blocking phase foreseen");
    return;
  }
  const double delay = nextMoment_->timeIntervalSinceDate(zelto_.now()) + kMomentMargin;
  log::debug("Next look at the blocking phase in {:.3f}s", delay);
  timer_ = loop_.addTimer(delay, 0, [this] { evaluate(); });
}

std::optional<Date> BlockingMonitor::foreseeNextMoment(const BlockingPhase& observed) {
  const Date now = zelto_.now();
  std::optional<Date> earliest;
  auto consider = [&](std::optional<Date> moment) {
    // A moment already past would make the timer fire at once, again and again.
    if (!moment || !moment->isGreaterDate(now)) return;
    if (!earliest || earliest->isGreaterDate(*moment)) earliest = moment;
  };
  consider(observed.endsAt);
  consider(observed.breakEndsAt);
  const ZeltoPreferences* prefs = zelto_.prefs();
  // A timer's own end, even when a schedule keeps the period going past it: the phase doesn't
  // change then, but the evaluation costs nothing and keeps the rule simple.
  if (observed.running && zelto_.isTimer() && prefs) consider(prefs->zeltoUnblockDate);
  consider(observed.startsAt);
  return earliest;
}

}  // namespace zelto
