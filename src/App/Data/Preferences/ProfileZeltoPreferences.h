// ProfileZeltoPreferences: what is blocked and how: sites, applications, the allow-list,
// schedules, the countdown, quotes and the four scripts.
//
// The first profile of the main record is the default profile. `{}` is a valid profile: every
// stored field has a default, and building the defaults makes a new identifier and reads the
// default resource files of the main application's bundle afresh.
//
// A plain record (see ZeltoBaseJSONModel). The class lookups search the shared main record
// and must run where that record is used (the main loop in the agent).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "App/Data/Preferences/QuoteZeltoPreferences.h"
#include "App/Data/Preferences/ScheduleZeltoPreferences.h"
#include "App/Data/Preferences/TimerZeltoPreferences.h"
#include "App/Data/Preferences/ZeltoBaseJSONModel.h"

namespace zelto {

class ProfileZeltoPreferences : public JSONRecord<ProfileZeltoPreferences> {
 public:
  // Every field starts empty; the defaults are in the field table only.
  std::string name;
  std::string uniqueID;
  TimerZeltoPreferences timers;
  std::vector<ScheduleZeltoPreferences> schedules;
  std::string zeltoScript;
  std::string unzeltoScript;
  std::string breakScript;
  std::string unbreakScript;
  std::vector<QuoteZeltoPreferences> quotes;
  // Blocked-application entries: objects with "path" and four flags, carried as they are.
  nlohmann::json blockedApplications = nlohmann::json::array();
  // Site patterns.
  nlohmann::json blockedWebsites = nlohmann::json::array();
  nlohmann::json whitelistedWebsites = nlohmann::json::array();
  bool enableWhitelistWebsites{};

  static const std::vector<RecordField<ProfileZeltoPreferences>>& fields();

  // The schedules ordered by "sortIndex" (equal indexes keep their stored order); the stored
  // list is not reordered.
  std::vector<ScheduleZeltoPreferences> getSortedSchedules() const;

  // The site patterns of `blockedWebsites` / `whitelistedWebsites` in their order: the text
  // entries, empty ones included; entries of any other type (a hand-edited file) are left out,
  // as is the whole list when it isn't one.
  std::vector<std::string> blockedWebsiteList() const;
  std::vector<std::string> whitelistedWebsiteList() const;
  // The list in force: the allowed sites in allow-list mode, else the blocked ones.
  std::vector<std::string> websiteListInForce() const {
    return enableWhitelistWebsites ? whitelistedWebsiteList() : blockedWebsiteList();
  }

  // Profiles of the shared main record; nothing when none matches or there is no record. The
  // pointer stays valid until the record's profiles change (a reload replaces them).
  static ProfileZeltoPreferences* getProfileByUniqueID(const std::string& uniqueID);
  static ProfileZeltoPreferences* getProfileByScheduleUniqueID(const std::string& uniqueID);
};

}  // namespace zelto
