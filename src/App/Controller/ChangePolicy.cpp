#include "App/Controller/ChangePolicy.h"

#include "App/Blocking/Helpers/ZeltoURLMatcher.h"

namespace zelto {

namespace {

using Kind = ChangePolicy::Change::Kind;
using Refusal = ChangePolicy::Decision::Refusal;

// The matchers decide what a pattern does (see ZeltoURLMatcher): "+" first allows, "-" first
// blocks (in either list); an empty pattern does nothing.
bool allows(const std::string& pattern) { return ZeltoURLMatcher(pattern).isWhitelisted(); }
bool blocksInAllowList(const std::string& pattern) {
  return !ZeltoURLMatcher(pattern, /*isWhitelisted=*/true).isWhitelisted();
}
bool blocksInBlockedList(const std::string& pattern) {
  return !pattern.empty() && !allows(pattern);
}

// Whether `after` holds blocking at least as firmly as the locked `before`: still locked, and
// not ending sooner.
bool keepsLock(const BlockingPhase& before, const std::optional<BlockingPhase>& after) {
  if (!after || !after->locked) return false;
  if (!before.endsAt) return true;
  return after->endsAt && !after->endsAt->isLessDate(*before.endsAt);
}

// Whether the change could end the locked period sooner or let a site or a program through.
bool loosens(const ChangePolicy::Holder& holder, const BlockingPhase& phase,
             const ChangePolicy::Change& change) {
  switch (change.kind) {
    case Kind::kStart:
      return !keepsLock(phase, change.after);
    case Kind::kStop:
    case Kind::kSwitchAllowList:
    case Kind::kChangeApplication:
    case Kind::kRemoveApplication:
    case Kind::kSwitchLogOff:
    case Kind::kChangePorts:
      return true;
    case Kind::kAddSite:
      // Anything on the allow list may let a site through (now, or once the list is on).
      return change.allowList || allows(change.subject);
    case Kind::kRemoveSite:
      // The allow list blocks only with its "-" patterns, and only while it is in force (it
      // can't be switched on during a locked period).
      return change.allowList ? holder.allowListInForce() && blocksInAllowList(change.subject)
                              : blocksInBlockedList(change.subject);
    case Kind::kDisableSchedule:
    case Kind::kRemoveSchedule:
      return holder.keepsPeriodGoing(change.subject);
    case Kind::kTakeBreak:  // judged by the allowance; only a session to complete refuses it
    case Kind::kAddApplication:
    case Kind::kAddSchedule:
    case Kind::kEnableSchedule:
      return false;
  }
  return true;
}

}  // namespace

ChangePolicy::Decision ChangePolicy::decide(const Holder& holder, const BlockingPhase& phase,
                                            const Change& change) {
  if (change.kind == Kind::kTakeBreak && phase.mustComplete) {
    return {Refusal::kMustComplete, phase.lockReason};
  }
  if (!phase.locked || !loosens(holder, phase, change)) return {};
  return {Refusal::kLocked, phase.lockReason};
}

}  // namespace zelto
