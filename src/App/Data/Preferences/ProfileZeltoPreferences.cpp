#include "App/Data/Preferences/ProfileZeltoPreferences.h"

#include <algorithm>

#include "App/Data/Preferences/ZeltoPreferences.h"
#include "App/Data/ZeltoDefaults.h"
#include "Platform/UUID.h"

namespace zelto {

const std::vector<RecordField<ProfileZeltoPreferences>>& ProfileZeltoPreferences::fields() {
  using P = ProfileZeltoPreferences;
  static const std::vector<RecordField<P>> table{
      fields::text("name", &P::name),
      fields::text("uniqueID", &P::uniqueID),
      fields::record("timers", &P::timers),
      fields::records("schedules", &P::schedules),
      fields::text("zeltoScript", &P::zeltoScript),
      fields::text("unzeltoScript", &P::unzeltoScript),
      fields::text("breakScript", &P::breakScript),
      fields::text("unbreakScript", &P::unbreakScript),
      fields::records("quotes", &P::quotes),
      fields::list("blockedApplications", &P::blockedApplications),
      fields::list("blockedWebsites", &P::blockedWebsites),
      fields::list("whitelistedWebsites", &P::whitelistedWebsites),
      fields::flag("enableWhitelistWebsites", &P::enableWhitelistWebsites),
  };
  return table;
}

nlohmann::json ProfileZeltoPreferences::defaultValues() {
  return {
      {"name", "Default"},
      {"uniqueID", UUID::generateString()},
      {"timers", nlohmann::json::object()},
      {"schedules", nlohmann::json::array()},
      {"zeltoScript", ZeltoDefaults::getDefaultZeltoScript()},
      {"unzeltoScript", ZeltoDefaults::getDefaultUnzeltoScript()},
      {"breakScript", ZeltoDefaults::getDefaultBreakScript()},
      {"unbreakScript", ZeltoDefaults::getDefaultUnbreakScript()},
      {"quotes", ZeltoDefaults::getDefaultQuotes()},
      {"blockedApplications", nlohmann::json::array()},
      {"blockedWebsites", ZeltoDefaults::getDefaultHosts()},
      {"whitelistedWebsites", nlohmann::json::array()},
      {"enableWhitelistWebsites", false},
  };
}

std::vector<ScheduleZeltoPreferences> ProfileZeltoPreferences::getSortedSchedules() const {
  std::vector<ScheduleZeltoPreferences> sorted = schedules;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto& a, const auto& b) { return a.sortIndex < b.sortIndex; });
  return sorted;
}

ProfileZeltoPreferences* ProfileZeltoPreferences::getProfileByUniqueID(
    const std::string& uniqueID) {
  ZeltoPreferences* prefs = ZeltoPreferences::standardPreferences();
  if (prefs == nullptr) return nullptr;
  for (auto& profile : prefs->profiles) {
    if (profile.uniqueID == uniqueID) return &profile;
  }
  return nullptr;
}

ProfileZeltoPreferences* ProfileZeltoPreferences::getProfileByScheduleUniqueID(
    const std::string& uniqueID) {
  ZeltoPreferences* prefs = ZeltoPreferences::standardPreferences();
  if (prefs == nullptr) return nullptr;
  for (auto& profile : prefs->profiles) {
    for (const auto& schedule : profile.schedules) {
      if (schedule.uniqueID == uniqueID) return &profile;
    }
  }
  return nullptr;
}

}  // namespace zelto
