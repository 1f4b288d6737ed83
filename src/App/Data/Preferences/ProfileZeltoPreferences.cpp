#include "App/Data/Preferences/ProfileZeltoPreferences.h"

#include "App/Data/Preferences/ZeltoPreferences.h"
#include "App/Data/ZeltoDefaults.h"
#include "Platform/UUID.h"

namespace zelto {

const std::vector<RecordField<ProfileZeltoPreferences>>& ProfileZeltoPreferences::fields() {
  using P = ProfileZeltoPreferences;
  static const std::vector<RecordField<P>> table{
      fields::text("name", &P::name, "Default"),
      fields::text("uniqueID", &P::uniqueID, [] { return UUID::generateString(); }),
      fields::record("timers", &P::timers, nlohmann::json::object()),
      fields::records("schedules", &P::schedules, nlohmann::json::array()),
      fields::text("zeltoScript", &P::zeltoScript, ZeltoDefaults::getDefaultZeltoScript),
      fields::text("unzeltoScript", &P::unzeltoScript, ZeltoDefaults::getDefaultUnzeltoScript),
      fields::text("breakScript", &P::breakScript, ZeltoDefaults::getDefaultBreakScript),
      fields::text("unbreakScript", &P::unbreakScript, ZeltoDefaults::getDefaultUnbreakScript),
      fields::records("quotes", &P::quotes, ZeltoDefaults::getDefaultQuotes),
      fields::list("blockedApplications", &P::blockedApplications, nlohmann::json::array()),
      fields::list("blockedWebsites", &P::blockedWebsites, ZeltoDefaults::getDefaultHosts),
      fields::list("whitelistedWebsites", &P::whitelistedWebsites, nlohmann::json::array()),
      fields::flag("enableWhitelistWebsites", &P::enableWhitelistWebsites, false),
  };
  return table;
}

std::vector<ScheduleZeltoPreferences> ProfileZeltoPreferences::getSortedSchedules() const {
  return ScheduleZeltoPreferences::sortedBySortIndex(schedules);
}

namespace {

std::vector<std::string> textEntries(const nlohmann::json& list) {
  std::vector<std::string> entries;
  if (!list.is_array()) return entries;
  for (const auto& entry : list) {
    if (entry.is_string()) entries.push_back(entry.get<std::string>());
  }
  return entries;
}

}  // namespace

std::vector<std::string> ProfileZeltoPreferences::blockedWebsiteList() const {
  return textEntries(blockedWebsites);
}

std::vector<std::string> ProfileZeltoPreferences::whitelistedWebsiteList() const {
  return textEntries(whitelistedWebsites);
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
