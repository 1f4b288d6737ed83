// GuardLock: one user's locked block as the system guard holds it: until when (an absolute UTC
// time, so that no clock zone, record or restart of the user's programs can move it), which sites
// are blocked or, in allow-list mode, allowed, which programs are ended and how, and the port of
// the user's own proxy.
//
// The guard keeps one per user, zeltoctl and the application send one, and both read and write it
// here, as JSON: {"end": "2026-12-08T12:00:00.000Z", "blockedSites": [...], "allowedSites":
// [...], "allowListMode": false, "programs": [{"path": ..., flags as the record has them}],
// "proxyPort": 8118}. Reading is strict and bounded: every key of the wrong type, an unknown key,
// a list or a text past its bound is refused with its name, so what reaches the guard from a
// socket or a damaged file is either a whole lock or nothing.
//
// A held lock may only be tightened: `loosenedBy` asks the change policy about every difference
// between the held lock and the one offered, as it would for the same edits of a record during a
// locked period.
//
// A plain value. Any thread.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "App/Data/Preferences/ProfileZeltoPreferences.h"
#include "Platform/Date.h"
#include "Platform/Status.h"

namespace zelto {

struct GuardLock {
  static constexpr size_t kMaxSites = 100'000;  // per list
  static constexpr size_t kMaxPrograms = 1'000;
  static constexpr size_t kMaxText = 4'096;  // a pattern or a path, in bytes

  Date end;
  std::vector<std::string> blockedSites;
  std::vector<std::string> allowedSites;
  bool allowListMode = false;
  // Entries as the record's blocked applications have them: "path", and the flags that say how
  // the program is ended.
  nlohmann::json programs = nlohmann::json::array();
  int proxyPort = 0;  // 0: the user's proxy is not known

  bool operator==(const GuardLock&) const = default;

  // The lock a locked period of `profile` ending at `end` calls for; the user's proxy at
  // `proxyPort`. Entries the lock can't carry (a program without an absolute path, a pattern past
  // the bounds) are left out: the application still enforces them.
  static GuardLock ofProfile(const ProfileZeltoPreferences& profile, Date end, int proxyPort);

  nlohmann::json toJson() const;
  static Result<GuardLock> fromJson(const nlohmann::json& value);

  // Whether the lock still holds at `now`.
  bool runsAt(Date now) const { return now.isLessDate(end); }

  // Why `offered` would loosen this lock (the change policy's reason, with what it changes);
  // empty when it only keeps or tightens it: an end no sooner, no blocked site or program
  // dropped, no site allowed that wasn't, no way of ending a program changed, the same mode and
  // port.
  std::string loosenedBy(const GuardLock& offered) const;
};

}  // namespace zelto
