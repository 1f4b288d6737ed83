// Enforcement: what the system guard holds the machine to while locks run, drawn from every
// running lock at once: the host names that must resolve to nothing, the browsers' own URL block
// and allow lists, and the port of the guard's proxy that browsers must use.
//
// The system-wide files (the hosts file, the browsers' managed policies) serve every user, so
// they carry the union of every user's locks: a site any lock blocks is blocked.
//
// A plain value. Any thread.
#pragma once

#include <string>
#include <vector>

#include "App/Guard/GuardLock.h"

namespace zelto {

struct Enforcement {
  // Plain host names blocked outright ("example.com"; their "www." form is added where the
  // hosts file is written), sorted, without repeats.
  std::vector<std::string> hosts;
  // Filters in the browsers' URL-list form ("example.com", ".example.com", "example.com/path"),
  // for the patterns that have an exact equivalent; sorted, without repeats. In allow-list mode
  // the block list is "*" and the allow list holds the allowed sites.
  std::vector<std::string> urlBlocklist;
  std::vector<std::string> urlAllowlist;
  // The guard's proxy, which browsers are made to use; 0 when none runs.
  int proxyPort = 0;

  bool operator==(const Enforcement&) const = default;
  bool empty() const { return hosts.empty() && urlBlocklist.empty() && proxyPort == 0; }

  // What `locks` (those that run) call for, with the guard's proxy at `proxyPort`.
  static Enforcement of(const std::vector<GuardLock>& locks, int proxyPort);
};

}  // namespace zelto
