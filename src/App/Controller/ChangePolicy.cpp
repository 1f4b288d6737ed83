#include "App/Controller/ChangePolicy.h"

#include <functional>

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

bool allowListInForce(Zelto& zelto) {
  ZeltoPreferences* prefs = zelto.prefs();
  ProfileZeltoPreferences* profile = prefs != nullptr ? prefs->defaultProfile() : nullptr;
  return profile != nullptr && profile->enableWhitelistWebsites;
}

// Whether schedule `id` is behind the scheduled run in force now (the controller's active
// chain): one that keeps the running period going.
bool keepsPeriodGoing(Zelto& zelto, const std::string& id) {
  zelto.updateSchedule();  // the records may have changed since it was built
  if (!zelto.isScheduleBlocked() || !zelto.activeScheduleChain) return false;
  for (const auto& item : zelto.activeScheduleChain->items()) {
    if (item.uniqueID() == id) return true;
  }
  return false;
}

// Whether `after` holds blocking at least as firmly as the locked `before`: still locked, and
// not ending sooner.
bool keepsLock(const BlockingPhase& before, const std::optional<BlockingPhase>& after) {
  if (!after || !after->locked) return false;
  if (!before.endsAt) return true;
  return after->endsAt && !after->endsAt->isLessDate(*before.endsAt);
}

// What the decision needs to know beyond the phase and the change, asked only when it matters.
struct Holder {
  std::function<bool()> allowListInForce;
  std::function<bool(const std::string& scheduleId)> keepsPeriodGoing;
};

// Whether the change could end the locked period sooner or let a site or a program through.
bool loosens(const Holder& holder, const BlockingPhase& phase, const ChangePolicy::Change& change) {
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

ChangePolicy::Decision decideFor(const Holder& holder, const BlockingPhase& phase,
                                 const ChangePolicy::Change& change) {
  if (change.kind == Kind::kTakeBreak && phase.mustComplete) {
    return {Refusal::kMustComplete, phase.lockReason};
  }
  if (!phase.locked || !loosens(holder, phase, change)) return {};
  return {Refusal::kLocked, phase.lockReason};
}

}  // namespace

ChangePolicy::Decision ChangePolicy::decide(Zelto& zelto, const BlockingPhase& phase,
                                            const Change& change) {
  return decideFor({[&zelto] { return allowListInForce(zelto); },
                    [&zelto](const std::string& id) { return keepsPeriodGoing(zelto, id); }},
                   phase, change);
}

ChangePolicy::Decision ChangePolicy::decide(const BlockingPhase& phase, const Change& change,
                                            bool allowListInForce) {
  return decideFor(
      {[allowListInForce] { return allowListInForce; }, [](const std::string&) { return false; }},
      phase, change);
}

}  // namespace zelto
