// BlockingMonitor: follows, for the main application, whether blocking is on, on a break, or
// off, and tells its owner each time that changes.
//
// Each evaluation decides from scratch: it reads the configuration again (a file that fails to
// load keeps the last good record), takes the blocking phase (BlockingPhase, the answer every
// program gives; an imminent period is still off here), tells the controller whether a period
// runs (`isZeltoing`), and, when the phase differs from the last one, calls the handler with
// both. It
// then sets one timer for the next moment the phase could change on its own: the end of the
// timer or of the scheduled run in force, the end of the break, or the start of the next
// scheduled period. There is no polling: the owner evaluates again when the configuration file
// changes and when the wall clock jumps (the loop's timers run on the monotonic clock).
//
// The phase the process starts from is the caller's (the one it remembered from an earlier run
// of the program), so a restart in the middle of a period is no new start.
//
// Ownership: the owner keeps the loop and the controller alive longer than the monitor; the
// monitor owns its timer. Threads: the loop's thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "App/Controller/BlockingPhase.h"
#include "App/Controller/Zelto.h"
#include "Platform/Date.h"
#include "Platform/RunLoop.h"

namespace zelto {

class BlockingMonitor {
 public:
  enum class Phase { kOff, kBreak, kEnforcing };
  using PhaseHandler = std::function<void(Phase from, Phase to)>;

  // A timer fires this long after the moment it waits for, so that the decision made then is
  // clearly past the boundary.
  static constexpr double kMomentMargin = 0.005;

  BlockingMonitor(RunLoop& loop, Zelto& zelto, Phase initial, PhaseHandler onChange);
  BlockingMonitor(const BlockingMonitor&) = delete;
  BlockingMonitor& operator=(const BlockingMonitor&) = delete;

  void evaluate();

  Phase phase() const { return phase_; }
  // The moment the timer waits for; nothing when no change is foreseen.
  std::optional<Date> nextMoment() const { return nextMoment_; }

  // "off", "break", "blocking"; and back, with kOff for anything else.
  static const char* phaseName(Phase phase);
  static Phase phaseNamed(const std::string& name);

 private:
  // From the phase this evaluation observed.
  std::optional<Date> foreseeNextMoment(const BlockingPhase& observed);

  RunLoop& loop_;
  Zelto& zelto_;
  Phase phase_;
  PhaseHandler onChange_;
  std::optional<Date> nextMoment_;
  std::unique_ptr<Registration> timer_;
};

}  // namespace zelto
