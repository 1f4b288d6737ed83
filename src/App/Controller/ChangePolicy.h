// ChangePolicy: which edits a locked period refuses. While blocking is locked (hardcore mode won't
// let the running period end early, see BlockingPhase), no front end may make a change that could
// end it sooner or let a site or a program through; everything else goes through. zeltoctl's
// commands ask here, and so does any other front end: the decision is made once, here, and each
// front end only words the answer.
//
// A change is described by what it does (`Change`), the phase is the one observed before it; the
// answer is allowed, or refused with its reason. Changes to sites and schedules are judged by what
// they do: adding a blocking pattern or a schedule tightens and always goes through.
//
// Class operations and plain values. Threads: the thread that owns the controller.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "App/Controller/BlockingPhase.h"
#include "App/Controller/Zelto.h"

namespace zelto {

class ChangePolicy {
 public:
  struct Change {
    enum class Kind {
      kStart,              // a new start; `after` is the phase the start would make
      kStop,               // ending the running period
      kTakeBreak,          // a break from the running period
      kAddSite,            // `subject` (a pattern) added to a site list
      kRemoveSite,         // `subject` removed from a site list
      kSwitchAllowList,    // allow-list mode switched on or off
      kAddApplication,     // `subject` (a path) newly blocked
      kChangeApplication,  // how `subject` is blocked, changed
      kRemoveApplication,  // `subject` no longer blocked
      kAddSchedule,        // a schedule added
      kEnableSchedule,     // schedule `subject` (its ID) switched on
      kDisableSchedule,    // schedule `subject` switched off
      kRemoveSchedule,     // schedule `subject` removed
      kSwitchLogOff,       // the log switched off (it would hide what a locked period shows)
      kChangePorts,        // the proxy's or the block page's port moved (a browser left on the
                           // old one would reach the sites directly)
    };
    Kind kind = Kind::kStop;
    std::string subject{};
    bool allowList = false;                // sites: the allow list, not the blocked sites
    std::optional<BlockingPhase> after{};  // kStart: the phase with the start made
  };

  struct Decision {
    enum class Refusal {
      kNone,
      kLocked,        // the change would loosen the locked period
      kMustComplete,  // a session that must be completed takes no breaks
    };
    Refusal refusal = Refusal::kNone;
    std::string reason{};  // why, when refused: the phase's lock reason

    bool allowed() const { return refusal == Refusal::kNone; }
  };

  // Whether `change` may be made in `phase` (observed at the controller's now, before it). The
  // controller tells which schedules keep the running period going and whether the allow list is
  // in force.
  static Decision decide(Zelto& zelto, const BlockingPhase& phase, const Change& change);

  // What the holder of the running period knows beyond the phase and the change, asked only
  // when it matters: whether its allow list is in force, whether schedule `id` keeps the period
  // going. The system guard holds a period outside any record, and asks this form.
  struct Holder {
    std::function<bool()> allowListInForce;
    std::function<bool(const std::string& id)> keepsPeriodGoing;
  };
  static Decision decide(const Holder& holder, const BlockingPhase& phase, const Change& change);
};

}  // namespace zelto
