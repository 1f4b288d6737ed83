#include "App/Guard/GuardLock.h"

#include <map>
#include <set>

#include "App/Controller/BlockingPhase.h"
#include "App/Controller/ChangePolicy.h"
#include "App/Data/Preferences/JSONValues.h"

namespace zelto {

namespace {

using json = nlohmann::json;

Status invalid(const std::string& key, const std::string& why) {
  return Status::invalidInput("\"" + key + "\" " + why);
}

Result<std::vector<std::string>> texts(const json& value, const std::string& key, size_t most) {
  if (!value.is_array()) return invalid(key, "is not a list");
  if (value.size() > most) {
    return invalid(key, "holds " + std::to_string(value.size()) + " entries, more than " +
                            std::to_string(most));
  }
  std::vector<std::string> out;
  out.reserve(value.size());
  for (const json& item : value) {
    if (!item.is_string()) return invalid(key, "holds something other than text");
    const auto& text = item.get_ref<const std::string&>();
    if (text.size() > GuardLock::kMaxText) return invalid(key, "holds an entry that is too long");
    out.push_back(text);
  }
  return out;
}

// A program entry: a path that is absolute, and flags that are flags.
Status checkProgram(const json& entry) {
  if (!entry.is_object()) return invalid("programs", "holds something other than an entry");
  auto path = entry.find("path");
  if (path == entry.end() || !path->is_string() ||
      !path->get_ref<const std::string&>().starts_with("/") ||
      path->get_ref<const std::string&>().size() > GuardLock::kMaxText) {
    return invalid("programs", "holds an entry without an absolute path");
  }
  for (const auto& [key, value] : entry.items()) {
    if (key != "path" && !value.is_boolean()) {
      return invalid("programs", "holds an entry whose \"" + key + "\" is not true or false");
    }
  }
  return Status::success();
}

// The way an entry ends its program: its flags, without the path.
json endingOf(const json& entry) {
  json flags = entry;
  flags.erase("path");
  for (auto it = flags.begin(); it != flags.end();) {
    it = it.value() == false ? flags.erase(it) : std::next(it);
  }
  return flags;
}

}  // namespace

GuardLock GuardLock::ofProfile(const ProfileZeltoPreferences& profile, Date end, int proxyPort) {
  GuardLock lock;
  lock.end = end;
  auto fit = [](std::vector<std::string> sites) {
    std::erase_if(sites, [](const std::string& site) { return site.size() > kMaxText; });
    if (sites.size() > kMaxSites) sites.resize(kMaxSites);
    return sites;
  };
  lock.blockedSites = fit(profile.blockedWebsiteList());
  lock.allowedSites = fit(profile.whitelistedWebsiteList());
  lock.allowListMode = profile.enableWhitelistWebsites;
  if (profile.blockedApplications.is_array()) {
    for (const json& entry : profile.blockedApplications) {
      if (lock.programs.size() < kMaxPrograms && checkProgram(entry).ok()) {
        lock.programs.push_back(entry);
      }
    }
  }
  lock.proxyPort = proxyPort;
  return lock;
}

json GuardLock::toJson() const {
  return {{"end", JSONValues::formatDate(end)},
          {"blockedSites", blockedSites},
          {"allowedSites", allowedSites},
          {"allowListMode", allowListMode},
          {"programs", programs},
          {"proxyPort", proxyPort}};
}

Result<GuardLock> GuardLock::fromJson(const json& value) {
  if (!value.is_object()) return Status::invalidInput("a lock is an object");
  GuardLock lock;
  bool hasEnd = false;
  for (const auto& [key, item] : value.items()) {
    if (key == "end") {
      std::optional<Date> end =
          item.is_string() ? JSONValues::parseDate(item.get<std::string>()) : std::nullopt;
      if (!end) return invalid(key, "is not a time such as 2026-12-08T12:00:00Z");
      lock.end = *end;
      hasEnd = true;
    } else if (key == "blockedSites" || key == "allowedSites") {
      auto list = texts(item, key, kMaxSites);
      if (!list) return list.status();
      (key == "blockedSites" ? lock.blockedSites : lock.allowedSites) = std::move(list).value();
    } else if (key == "allowListMode") {
      if (!item.is_boolean()) return invalid(key, "is not true or false");
      lock.allowListMode = item.get<bool>();
    } else if (key == "programs") {
      if (!item.is_array()) return invalid(key, "is not a list");
      if (item.size() > kMaxPrograms) return invalid(key, "holds too many entries");
      for (const json& entry : item) {
        if (Status checked = checkProgram(entry); !checked.ok()) return checked;
      }
      lock.programs = item;
    } else if (key == "proxyPort") {
      if (!item.is_number_integer() || item.get<int64_t>() < 0 || item.get<int64_t>() > 65535) {
        return invalid(key, "is not a port number");
      }
      lock.proxyPort = item.get<int>();
    } else {
      return Status::invalidInput("unknown key \"" + key + "\"");
    }
  }
  if (!hasEnd) return invalid("end", "is missing");
  return lock;
}

std::string GuardLock::loosenedBy(const GuardLock& offered) const {
  using Kind = ChangePolicy::Change::Kind;
  BlockingPhase phase;
  phase.kind = BlockingPhase::Kind::kEnforcing;
  phase.running = phase.locked = phase.mustComplete = true;
  phase.endsAt = end;
  phase.lockReason = "the system guard holds it locked until " + JSONValues::formatDate(end);
  BlockingPhase after = phase;
  after.endsAt = offered.end;

  std::vector<std::pair<ChangePolicy::Change, std::string>> changes;
  changes.push_back({{Kind::kStart, "", false, after}, "an earlier end"});
  auto compare = [&](const std::vector<std::string>& held, const std::vector<std::string>& now,
                     bool allowList) {
    const std::set<std::string> heldSet(held.begin(), held.end()), nowSet(now.begin(), now.end());
    for (const auto& site : held) {
      if (!nowSet.contains(site)) {
        changes.push_back({{Kind::kRemoveSite, site, allowList}, "\"" + site + "\" dropped"});
      }
    }
    for (const auto& site : now) {
      if (!heldSet.contains(site)) {
        changes.push_back({{Kind::kAddSite, site, allowList}, "\"" + site + "\" added"});
      }
    }
  };
  compare(blockedSites, offered.blockedSites, false);
  compare(allowedSites, offered.allowedSites, true);
  if (allowListMode != offered.allowListMode) {
    changes.push_back({{Kind::kSwitchAllowList}, "allow-list mode switched"});
  }
  if (proxyPort != offered.proxyPort && proxyPort != 0) {
    changes.push_back({{Kind::kChangePorts}, "another proxy port"});
  }
  std::map<std::string, json> offeredPrograms;
  for (const json& entry : offered.programs) offeredPrograms.emplace(entry["path"], entry);
  for (const json& entry : programs) {
    const std::string path = entry["path"];
    auto kept = offeredPrograms.find(path);
    if (kept == offeredPrograms.end()) {
      changes.push_back({{Kind::kRemoveApplication, path}, "\"" + path + "\" no longer ended"});
    } else if (endingOf(kept->second) != endingOf(entry)) {
      changes.push_back({{Kind::kChangeApplication, path}, "\"" + path + "\" ended another way"});
    }
  }

  for (const auto& [change, what] : changes) {
    auto decision = ChangePolicy::decide(
        {[this] { return allowListMode; }, [](const std::string&) { return false; }}, phase,
        change);
    if (!decision.allowed()) return what + ": " + decision.reason;
  }
  return {};
}

}  // namespace zelto
