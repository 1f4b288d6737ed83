#include "App/Blocking/Helpers/ZeltoURLMatcherManager.h"

#include <algorithm>
#include <optional>

#include "App/Blocking/Helpers/NormalizedURL.h"
#include "App/Blocking/Helpers/ZeltoURL.h"
#include "App/Data/Preferences/ZeltoPreferences.h"
#include "Platform/Log.h"
#include "Platform/Text.h"

namespace zelto {

namespace {

bool isAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// The ASCII form of a site pattern that holds non-ASCII text, as the addresses browsers send
// read: its host in punycode ("bücher.test/ü" gives "xn--bcher-kva.test/%C3%BC"), the rest's
// non-ASCII bytes percent-encoded. Nothing for an ASCII pattern, a regex ("/.../"), another
// scheme's pattern, or a host that doesn't convert (a "*" inside an international label).
std::optional<std::string> asciiForm(std::string_view site) {
  if (isAscii(site)) return std::nullopt;
  const std::string lower = Text::lowercase(site);
  std::string_view text = lower;
  std::string out;
  if (text.starts_with('+') || text.starts_with('-')) {
    out += text.front();
    text.remove_prefix(1);
  }
  if (text.starts_with('/') && text.ends_with('/')) return std::nullopt;
  for (std::string_view scheme : {"http://", "https://"}) {
    if (text.starts_with(scheme)) {
      out += scheme;
      text.remove_prefix(scheme.size());
      break;
    }
  }
  if (text.find("://") != std::string_view::npos) return std::nullopt;

  const size_t hostEnd = std::min(text.find_first_of("/?#:"), text.size());
  const std::string_view host = text.substr(0, hostEnd);
  if (isAscii(host)) {
    out += host;
  } else if (host.find('*') == std::string_view::npos) {
    Result<std::string> ascii = NormalizedURL::domainToASCII(host);
    if (!ascii.ok()) return std::nullopt;
    out += *ascii;
  } else {
    // Label by label: "*" may stand only in ASCII labels.
    for (size_t from = 0; from <= host.size();) {
      const size_t dot = std::min(host.find('.', from), host.size());
      const std::string_view label = host.substr(from, dot - from);
      if (isAscii(label)) {
        out += label;
      } else {
        if (label.find('*') != std::string_view::npos) return std::nullopt;
        Result<std::string> ascii = NormalizedURL::domainToASCII(label);
        if (!ascii.ok()) return std::nullopt;
        out += *ascii;
      }
      if (dot < host.size()) out += '.';
      from = dot + 1;
    }
  }
  static constexpr std::string_view kHex = "0123456789ABCDEF";
  for (char c : text.substr(hostEnd)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

}  // namespace

const std::vector<std::string>& ZeltoURLMatcherManager::alwaysAllowedAddresses() {
  static const std::vector<std::string> addresses{
      "chrome://",
      "favorites://",
      "bookmarks://",
      "history://",
      "vivaldi://",
      "opera://",
      "http://localhost:" + std::to_string(ZeltoURL::kDefaultHttpPort) + "/block/",
      kProductHost,
  };
  return addresses;
}

ZeltoURLMatcherManager::ZeltoURLMatcherManager(PrefsSource prefs, NotificationCenter& center)
    : prefs_(std::move(prefs)), center_(center) {
  const ProfileZeltoPreferences* profile = defaultProfile();
  isWhitelisted_ = profile != nullptr && profile->enableWhitelistWebsites;
}

const ProfileZeltoPreferences* ZeltoURLMatcherManager::defaultProfile() const {
  ZeltoPreferences* record = prefs_ ? prefs_() : nullptr;
  // No profile at all (the record is absent, or a default one couldn't be made).
  return record == nullptr ? nullptr : record->defaultProfile();
}

ZeltoURLMatcherManager::~ZeltoURLMatcherManager() {
  if (observer_) center_.removeObserver(*observer_);
}

void ZeltoURLMatcherManager::setup() {
  if (!observer_) {
    observer_ = center_.addObserver(kDidUpdateBlockSettings,
                                    [this](const Notification&) { updateMatches(); });
  }
  updateMatches();
}

void ZeltoURLMatcherManager::updateMatches() {
  log::info("Zelto URL matcher is updating blocked sites");
  const ProfileZeltoPreferences* profile = defaultProfile();
  isWhitelisted_ = profile != nullptr && profile->enableWhitelistWebsites;
  // The list itself is read when the matchers are first needed: a program that never decides on
  // a URL (the agent) holds no copy of a list of maybe a hundred thousand patterns.
  built_ = false;
  // Assigned afresh, not `= {}`, which would keep the old buffers.
  matches_ = std::vector<ZeltoURLMatcher>();
  index_ = ZeltoURLMatchIndex();
}

void ZeltoURLMatcherManager::build() const {
  if (built_) return;
  // The list of the mode taken at the last update.
  const ProfileZeltoPreferences* profile = defaultProfile();
  const std::vector<std::string> sites = profile == nullptr ? std::vector<std::string>()
                                         : isWhitelisted_   ? profile->whitelistedWebsiteList()
                                                            : profile->blockedWebsiteList();
  std::vector<ZeltoURLMatcher> matches;
  matches.reserve(alwaysAllowedAddresses().size() + sites.size());
  for (const auto& address : alwaysAllowedAddresses()) matches.emplace_back(address, true);
  for (const auto& site : sites) {
    // A stray empty line must not make a matcher: it would stand for no site at all.
    if (site.empty()) continue;
    matches.emplace_back(site, isWhitelisted_);
    // A pattern with non-ASCII text also matches the ASCII form of its addresses, which is
    // what browsers send (the proxy decides on that form): the same kind of matcher right
    // after it.
    if (std::optional<std::string> ascii = asciiForm(site)) {
      matches.emplace_back(*ascii, isWhitelisted_);
    }
  }
  matches_ = std::move(matches);
  index_ = ZeltoURLMatchIndex(matches_);
  built_ = true;
}

const std::vector<ZeltoURLMatcher>& ZeltoURLMatcherManager::matches() const {
  build();
  return matches_;
}

ZeltoURLMatcherManager::Decision ZeltoURLMatcherManager::decide(std::string_view url) const {
  if (ZeltoURL::urlIsBlockedPage(url)) return {.blocked = false, .rank = 3, .matcher = nullptr};
  // As in the walk below.
  const std::string lower = Text::lowercase(url);
  if (ZeltoURL::urlIsBlockedPage(lower)) {
    return {.blocked = isWhitelisted_, .rank = 5, .matcher = nullptr};
  }
  build();
  std::vector<ZeltoURLMatchIndex::Candidate> candidates;
  index_.candidates(lower, candidates);
  for (const auto& [rank, index] : candidates) {
    const ZeltoURLMatcher& matcher = matches_[index];
    if (!matcher.isMatchLowercased(lower)) continue;
    // Ranks 1 and 3 allow, 2 and 4 block.
    return {.blocked = rank % 2 == 0, .rank = static_cast<int>(rank), .matcher = &matcher};
  }
  return {.blocked = isWhitelisted_, .rank = 5, .matcher = nullptr};
}

ZeltoURLMatcherManager::Decision ZeltoURLMatcherManager::decideByWalking(
    std::string_view url) const {
  if (ZeltoURL::urlIsBlockedPage(url)) return {.blocked = false, .rank = 3, .matcher = nullptr};
  // Lower-cased once for every matcher of every pass. A URL that is a block-page address only
  // once lower-cased matches no matcher, and so falls to the last rule.
  const std::string lower = Text::lowercase(url);
  if (ZeltoURL::urlIsBlockedPage(lower)) {
    return {.blocked = isWhitelisted_, .rank = 5, .matcher = nullptr};
  }

  build();
  // The first matcher of the kind that `accepts` which matches, if any.
  auto find = [&](auto accepts) -> const ZeltoURLMatcher* {
    for (const auto& matcher : matches_) {
      if (accepts(matcher) && matcher.isMatchLowercased(lower)) return &matcher;
    }
    return nullptr;
  };
  if (auto m = find([](const auto& m) { return m.priority() && m.isWhitelisted(); })) {
    return {.blocked = false, .rank = 1, .matcher = m};
  }
  if (auto m = find([](const auto& m) { return m.priority() && !m.isWhitelisted(); })) {
    return {.blocked = true, .rank = 2, .matcher = m};
  }
  // Passes 3 and 4 take every allowing, then every blocking matcher; the priority ones among
  // them are known not to match by now, so they aren't asked again.
  if (auto m = find([](const auto& m) { return !m.priority() && m.isWhitelisted(); })) {
    return {.blocked = false, .rank = 3, .matcher = m};
  }
  if (auto m = find([](const auto& m) { return !m.priority() && !m.isWhitelisted(); })) {
    return {.blocked = true, .rank = 4, .matcher = m};
  }
  return {.blocked = isWhitelisted_, .rank = 5, .matcher = nullptr};
}

}  // namespace zelto
