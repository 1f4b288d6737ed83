// The change policy asked about the controller's own running period: the controller tells which
// schedules keep it going and whether the allow list is in force.
#include "App/Controller/ChangePolicy.h"

namespace zelto {

namespace {

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

}  // namespace

ChangePolicy::Decision ChangePolicy::decide(Zelto& zelto, const BlockingPhase& phase,
                                            const Change& change) {
  return decide({[&zelto] { return allowListInForce(zelto); },
                 [&zelto](const std::string& id) { return keepsPeriodGoing(zelto, id); }},
                phase, change);
}

}  // namespace zelto
