#include "MainApp/GuardLockSet.h"

#include <algorithm>

#include "App/Blocking/Helpers/ZeltoURLMatcherManager.h"
#include "App/Data/Preferences/ZeltoPreferences.h"
#include "Platform/JsonText.h"
#include "Platform/NotificationCenter.h"

namespace zelto {

namespace {

// A record holding `lock`'s list and mode in its one profile, and nothing else.
ZeltoPreferences recordOf(const GuardLock& lock) {
  ZeltoPreferences record;
  ProfileZeltoPreferences& profile = record.profiles.emplace_back();
  profile.enableWhitelistWebsites = lock.allowListMode;
  profile.blockedWebsites = lock.blockedSites;
  profile.whitelistedWebsites = lock.allowedSites;
  return record;
}

}  // namespace

// A lock and the matchers of its list. The manager reads the record through a pointer: the
// entry stays where it is (held by pointer), and the record is whole before the manager first
// looks at it.
struct GuardLockSet::Entry {
  explicit Entry(GuardLock held)
      : lock(std::move(held)), record(recordOf(lock)), matcher([this] { return &record; }, center) {
    matcher.updateMatches();
  }

  GuardLock lock;
  ZeltoPreferences record;
  NotificationCenter center;  // the manager's own: nothing posts to it
  ZeltoURLMatcherManager matcher;
};

GuardLockSet::GuardLockSet() = default;
GuardLockSet::~GuardLockSet() = default;
GuardLockSet::GuardLockSet(GuardLockSet&&) noexcept = default;
GuardLockSet& GuardLockSet::operator=(GuardLockSet&&) noexcept = default;

Result<GuardLockSet> GuardLockSet::read(const FileSystem& fs, const std::string& path) {
  Result<std::string> text = fs.readFile(path, kMaxFileBytes);
  if (!text.ok()) {
    return Status::failure(text.status().kind(),
                           "Can't read " + path + ": " + text.status().message());
  }
  Result<nlohmann::json> value = JsonText::parse(*text);
  if (!value.ok()) return Status::invalidInput(path + " is no JSON: " + value.status().message());
  Result<GuardLockSet> set = fromJson(*value);
  if (!set.ok()) return Status::invalidInput(path + ": " + set.status().message());
  return set;
}

Result<GuardLockSet> GuardLockSet::fromJson(const nlohmann::json& value) {
  if (!value.is_object()) return Status::invalidInput("the locks are not an object");
  const auto locks = value.find("locks");
  if (locks == value.end() || !locks->is_array()) {
    return Status::invalidInput("\"locks\" is missing or not a list");
  }
  if (value.size() != 1) return Status::invalidInput("keys other than \"locks\"");
  if (locks->size() > kMaxLocks) {
    return Status::invalidInput("more than " + std::to_string(kMaxLocks) + " locks");
  }
  GuardLockSet set;
  for (size_t i = 0; i < locks->size(); ++i) {
    Result<GuardLock> lock = GuardLock::fromJson((*locks)[i]);
    if (!lock.ok()) {
      return Status::invalidInput("lock " + std::to_string(i + 1) + ": " + lock.status().message());
    }
    set.entries_.push_back(std::make_unique<Entry>(std::move(*lock)));
  }
  return set;
}

bool GuardLockSet::blocks(std::string_view url, Date now) const {
  return std::any_of(entries_.begin(), entries_.end(), [&](const std::unique_ptr<Entry>& entry) {
    return entry->lock.runsAt(now) && entry->matcher.shouldBlock(url);
  });
}

std::vector<std::string> GuardLockSet::blockedSites(Date now) const {
  std::vector<std::string> sites;
  for (const auto& entry : entries_) {
    if (!entry->lock.runsAt(now) || entry->lock.allowListMode) continue;
    sites.insert(sites.end(), entry->lock.blockedSites.begin(), entry->lock.blockedSites.end());
  }
  return sites;
}

std::optional<Date> GuardLockSet::lastEnd(Date now) const {
  std::optional<Date> last;
  for (const auto& entry : entries_) {
    if (entry->lock.runsAt(now) && (!last || entry->lock.end.isGreaterDate(*last))) {
      last = entry->lock.end;
    }
  }
  return last;
}

}  // namespace zelto
