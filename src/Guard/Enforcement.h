// Enforcement: what the system guard holds the machine to while locks run, drawn from every
// running lock at once: the host names that must resolve to nothing, the browsers' own URL block
// and allow lists, and the port of the guard's proxy that browsers must use.
//
// The system-wide files (the hosts file, the browsers' managed policies) serve every user, so
// they carry the union of every user's locks: a site any lock blocks is blocked.
//
// Only what has an exact equivalent is translated, so that neither the hosts file nor a browser
// ever blocks more than the user's own matcher would (ZeltoURLMatcher); everything else is left
// to the guard's proxy. A plain pattern "example.com" matches that host and its "www." form,
// never other subdomains: the hosts file gets both names, the browsers the filters
// ".example.com" and ".www.example.com" (a leading dot: that host alone). "example.com/path" is
// that path prefix on those two hosts at their default ports ("http://.example.com:80/path",
// "https://.example.com:443/path", ...). "*.example.com" (any subdomain, not the host itself)
// becomes "example.com" (the host and its subdomains) only when the host itself is blocked too.
// A lock's "+" patterns take their hosts out of what it blocks; one that can't be read as hosts
// (an expression) leaves the whole lock to the proxy. Regular expressions, other wildcards,
// patterns ending in "/" (one address only), ports, queries and non-ASCII text are the proxy's.
//
// In allow-list mode the browsers block "*" and allow at least every site the lock allows (a
// filter as wide or wider: "example.com/path" allows ".example.com/path" on every port), along
// with what is always allowed (the block page, the browsers' own pages, the product's site); a
// lock that allows something without such a filter, or more than a browser's list holds, puts no
// "*" in. Nothing of an allow-list lock goes into the hosts file.
//
// One reach of the matcher is not followed on purpose: it compares addresses by their start, so
// "example.com" also reaches names that merely begin with it ("example.community"). The filters
// name hosts whole: they block less there, and in allow-list mode such a name stays blocked.
//
// Bounded: at most kMaxHosts host names and kMaxUrlFilters filters per list (the browsers read
// no more than that); what is left out is logged.
//
// A plain value. Any thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "App/Guard/GuardLock.h"

namespace zelto {

struct Enforcement {
  static constexpr size_t kMaxHosts = 100'000;
  static constexpr size_t kMaxUrlFilters = 1'000;

  // Plain host names blocked outright ("example.com"; their "www." form is added where the
  // hosts file is written), sorted, without repeats.
  std::vector<std::string> hosts;
  // Filters in the Chromium browsers' URL-list form ("[scheme://][.]host[:port][/path]", "*"),
  // sorted, without repeats; BrowserPolicies turns them into Firefox's match patterns. A filter
  // in both lists is dropped from the allow list (a site any lock blocks stays blocked).
  std::vector<std::string> urlBlocklist;
  std::vector<std::string> urlAllowlist;
  // The guard's proxy, which browsers are made to use; 0 when none runs.
  int proxyPort = 0;

  bool operator==(const Enforcement&) const = default;
  bool empty() const { return hosts.empty() && urlBlocklist.empty() && proxyPort == 0; }

  // What `locks` (those that run) call for, with the guard's proxy at `proxyPort` (1 to 65535;
  // anything else is taken for none).
  static Enforcement of(const std::vector<GuardLock>& locks, int proxyPort);
};

}  // namespace zelto
