#include "Guard/Enforcement.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <set>
#include <string_view>
#include <unordered_set>

#include "App/Blocking/Helpers/ZeltoURLMatcher.h"
#include "App/Blocking/Helpers/ZeltoURLMatcherManager.h"
#include "Platform/Log.h"
#include "Platform/Text.h"

namespace zelto {
namespace {

constexpr std::string_view kWww = "www.";

// A site pattern as far as the hosts file and the browsers can take it.
struct Site {
  enum class Kind {
    kNothing,      // empty: matches nothing
    kHost,         // [scheme://]host: every address of the host
    kPath,         // [scheme://]host/path: a path prefix on the host's default ports
    kHostAndMore,  // a known host, then what no filter says exactly (a port, a query, a "/" end)
    kSubdomains,   // "*.host": every subdomain of the host, not the host itself
    kOtherScheme,  // "chrome://...": no web host
    kOpaque,       // only the proxy can tell what it matches
  };
  Kind kind = Kind::kNothing;
  char sign = 0;       // '+', '-' or none
  std::string scheme;  // "", "http" or "https"
  std::string host;
  std::string path;

  bool allows(bool allowListMode) const { return sign == '+' || (sign == 0 && allowListMode); }
  // The host names the pattern reaches: the host, and its "www." form unless a scheme or a
  // "www." of its own rules that out.
  std::vector<std::string> hostNames() const {
    std::vector<std::string> names{host};
    if (scheme.empty() && !host.starts_with(kWww)) names.push_back(std::string(kWww) + host);
    return names;
  }
  // The host without a leading "www.": what allowed and blocked hosts are compared by.
  std::string_view bareHost() const {
    std::string_view bare = host;
    if (bare.starts_with(kWww)) bare.remove_prefix(kWww.size());
    return bare;
  }
};

bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A lower-case DNS name: labels of letters, digits, "-" and "_", none empty or beginning with
// "-", and not an IP address (whose last label is all digits): the hosts file holds names only.
bool isHostName(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  size_t labelStart = 0;
  for (size_t i = 0; i <= host.size(); ++i) {
    if (i < host.size() && host[i] != '.') {
      const char c = host[i];
      if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_')) return false;
      continue;
    }
    if (i == labelStart || i - labelStart > 63 || host[labelStart] == '-') return false;
    labelStart = i + 1;
  }
  const std::string_view last = host.substr(host.rfind('.') + 1);
  return !std::all_of(last.begin(), last.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A path the browsers compare as written: no query, fragment, escape, dot segment or "@"
// (which starts a filter's query).
bool isPlainPath(std::string_view path) {
  for (char c : path) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      std::string_view("-._~/!$&+,;=:").find(c) != std::string_view::npos;
    if (!safe) return false;
  }
  return path.find("//") == std::string_view::npos && path.find("/./") == std::string_view::npos &&
         path.find("/../") == std::string_view::npos && !path.ends_with("/.") &&
         !path.ends_with("/..");
}

Site readSite(const std::string& pattern) {
  Site site;
  const ZeltoURLMatcher matcher(pattern);
  std::string_view text = matcher.originalPattern();
  if (text.empty()) return site;
  if (matcher.priority()) {
    site.sign = matcher.isWhitelisted() ? '+' : '-';
    text.remove_prefix(1);
  }
  site.kind = Site::Kind::kOpaque;
  // (A sign alone is a plain pattern that every http address begins with.)
  if (text.empty() || !isAscii(text)) return site;
  if (matcher.isRegex()) {
    if (text.starts_with("*.") && isHostName(text.substr(2))) {
      site.kind = Site::Kind::kSubdomains;
      site.host = text.substr(2);
    }
    return site;
  }
  for (std::string_view scheme : {"http", "https"}) {
    if (text.starts_with(std::string(scheme) + "://")) {
      site.scheme = scheme;
      text.remove_prefix(scheme.size() + 3);
      break;
    }
  }
  if (site.scheme.empty() && text.find("://") != std::string_view::npos) {
    site.kind = Site::Kind::kOtherScheme;
    return site;
  }
  const size_t hostEnd = std::min(text.find_first_of("/?#:"), text.size());
  if (!isHostName(text.substr(0, hostEnd))) return site;
  site.host = text.substr(0, hostEnd);
  const std::string_view rest = text.substr(hostEnd);
  if (rest.empty()) {
    site.kind = Site::Kind::kHost;
  } else if (rest.front() == '/' && !rest.ends_with('/') && isPlainPath(rest)) {
    site.kind = Site::Kind::kPath;
    site.path = rest;
  } else {
    site.kind = Site::Kind::kHostAndMore;
  }
  return site;
}

// Hash and equality that take string views, for look-ups without copies.
struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
};
using TextSet = std::unordered_set<std::string, TextHash, std::equal_to<>>;

// The hosts a lock's allowing patterns reach, by their bare names: a blocked host clashes with
// one when either name begins with the other (a plain pattern is an address prefix:
// "example.co" allows example.com too), or, for the subdomains of a host, when the allowed
// one is such a subdomain.
class AllowedHosts {
 public:
  void add(std::string_view bare) {
    ordered_.emplace(bare);
    exact_.emplace(bare);
  }
  bool clashesWith(std::string_view bare, bool subdomains) const {
    for (size_t n = 1; n <= bare.size(); ++n) {
      if (exact_.find(bare.substr(0, n)) != exact_.end()) return true;
    }
    auto after = ordered_.lower_bound(bare);
    if (after != ordered_.end() && after->starts_with(bare)) return true;
    if (!subdomains) return false;
    const std::string dotted = "." + std::string(bare);
    return std::any_of(ordered_.begin(), ordered_.end(),
                       [&](const std::string& allowed) { return allowed.ends_with(dotted); });
  }

 private:
  std::set<std::string, std::less<>> ordered_;
  TextSet exact_;
};

std::string_view defaultPort(std::string_view scheme) { return scheme == "https" ? "443" : "80"; }

// What one lock adds.
struct Contribution {
  std::set<std::string> hosts;
  std::set<std::string> blocked;
  std::set<std::string> subdomainsBlocked;  // "host": kept only if ".host" ends up blocked
  std::set<std::string> allowed;
  bool everything = false;  // "*" blocked
  size_t leftToProxy = 0;
};

// The block filters of a blocking site that the lock's allowing patterns don't touch.
void addBlocked(const Site& site, bool sinkHosts, const AllowedHosts& allowed, Contribution& out) {
  switch (site.kind) {
    case Site::Kind::kHost:
    case Site::Kind::kPath:
      if (allowed.clashesWith(site.bareHost(), false)) break;
      for (const std::string& name : site.hostNames()) {
        if (site.kind == Site::Kind::kHost) {
          out.blocked.insert(site.scheme.empty() ? "." + name : site.scheme + "://." + name);
          continue;
        }
        for (std::string_view scheme : {"http", "https"}) {
          if (!site.scheme.empty() && site.scheme != scheme) continue;
          out.blocked.insert(std::string(scheme) + "://." + name + ":" +
                             std::string(defaultPort(scheme)) + site.path);
        }
      }
      if (sinkHosts && site.kind == Site::Kind::kHost && site.scheme.empty())
        out.hosts.insert(site.host);
      return;
    case Site::Kind::kSubdomains:
      if (allowed.clashesWith(site.host, true)) break;
      out.subdomainsBlocked.insert(site.host);
      return;
    case Site::Kind::kNothing:
      return;
    default:
      break;
  }
  ++out.leftToProxy;
}

// Filters that allow at least every address `site` allows; false when there are none.
bool addAllowed(const Site& site, Contribution& out) {
  switch (site.kind) {
    case Site::Kind::kNothing:
      return true;
    case Site::Kind::kHost:
    case Site::Kind::kHostAndMore:
    case Site::Kind::kPath:
      for (const std::string& name : site.hostNames()) {
        out.allowed.insert("." + name + (site.kind == Site::Kind::kPath ? site.path : ""));
      }
      return true;
    case Site::Kind::kSubdomains:
      out.allowed.insert(site.host);
      return true;
    default:
      return false;
  }
}

// What every allow-list lock allows whatever its list: the block page, the browsers' own pages,
// the product's site.
void addAlwaysAllowed(Contribution& out) {
  out.allowed.insert("http://.localhost/block/");
  out.allowed.insert("chrome://*");
  addAllowed(readSite(ZeltoURLMatcherManager::kProductHost), out);
}

Contribution contributionOf(const GuardLock& lock) {
  Contribution out;
  const auto& patterns = lock.allowListMode ? lock.allowedSites : lock.blockedSites;
  std::vector<Site> sites;
  sites.reserve(patterns.size());
  for (const std::string& pattern : patterns) sites.push_back(readSite(pattern));

  // The hosts the "+" patterns allow ahead of every block; the block page's host, whose page
  // is never blocked; for plain block patterns, the product's site, allowed ahead of them.
  AllowedHosts priorityAllowed;
  priorityAllowed.add("localhost");
  bool opaqueAllow = false;
  for (const Site& site : sites) {
    if (site.sign != '+' || site.kind == Site::Kind::kNothing ||
        site.kind == Site::Kind::kOtherScheme)
      continue;
    if (site.kind == Site::Kind::kHost || site.kind == Site::Kind::kPath ||
        site.kind == Site::Kind::kHostAndMore) {
      priorityAllowed.add(site.bareHost());
    } else {
      opaqueAllow = true;  // an expression may allow any address
    }
  }
  AllowedHosts plainAllowed = priorityAllowed;
  plainAllowed.add(ZeltoURLMatcherManager::kProductHost);

  bool everyAllowTranslates = true;
  for (const Site& site : sites) {
    if (site.allows(lock.allowListMode)) {
      if (lock.allowListMode && !addAllowed(site, out)) {
        everyAllowTranslates = false;
        ++out.leftToProxy;
      }
      continue;
    }
    if (opaqueAllow) {
      ++out.leftToProxy;
      continue;
    }
    const bool priority = site.sign == '-';
    addBlocked(site, !lock.allowListMode, priority ? priorityAllowed : plainAllowed, out);
  }
  if (lock.allowListMode) {
    if (everyAllowTranslates) {
      out.everything = true;
      addAlwaysAllowed(out);
    } else {
      out.allowed.clear();
    }
  }
  return out;
}

template <typename Set>
std::vector<std::string> bounded(const Set& items, size_t most, const char* what) {
  std::vector<std::string> out(items.begin(), items.end());
  if (out.size() > most) {
    log::warning("The guard keeps {} of {} {}; the rest is left to its proxy", most, out.size(),
                 what);
    out.resize(most);
  }
  return out;
}

}  // namespace

Enforcement Enforcement::of(const std::vector<GuardLock>& locks, int proxyPort) {
  std::set<std::string> hosts, blocked, subdomainsBlocked, allowed;
  bool everything = false;
  size_t leftToProxy = 0;
  for (const GuardLock& lock : locks) {
    Contribution part = contributionOf(lock);
    hosts.merge(part.hosts);
    blocked.merge(part.blocked);
    subdomainsBlocked.merge(part.subdomainsBlocked);
    allowed.merge(part.allowed);
    everything = everything || part.everything;
    leftToProxy += part.leftToProxy;
  }
  // "*.host" never reaches the host itself: its filter, which does, only where the host is
  // blocked anyway.
  for (const std::string& host : subdomainsBlocked) {
    if (blocked.contains("." + host)) {
      blocked.insert(host);
    } else {
      ++leftToProxy;
    }
  }
  for (const std::string& filter : blocked) allowed.erase(filter);
  if (leftToProxy > 0) log::debug("{} site patterns are left to the guard's proxy", leftToProxy);

  Enforcement out;
  out.proxyPort = proxyPort >= 1 && proxyPort <= 65535 ? proxyPort : 0;
  out.hosts = bounded(hosts, kMaxHosts, "host names for the hosts file");
  if (everything && allowed.size() > kMaxUrlFilters) {
    // A browser reading only part of the allowed sites would block the rest.
    log::warning("The browsers are not limited to the {} allowed sites: they hold {} at most",
                 allowed.size(), kMaxUrlFilters);
    everything = false;
    allowed.clear();
  }
  if (everything) {
    blocked.insert("*");  // first in order: kept by any bound
  } else {
    allowed.clear();  // nothing to make exceptions to
  }
  out.urlBlocklist = bounded(blocked, kMaxUrlFilters, "browser filters");
  out.urlAllowlist.assign(allowed.begin(), allowed.end());
  return out;
}

}  // namespace zelto
