// The controller's site lists and the block decision.
#include "App/Controller/Zelto.h"
#include "App/Helpers/Functional/F.h"
#include "Platform/Log.h"
#include "Platform/Text.h"

namespace zelto {

namespace {

std::vector<std::string> lowercased(const std::vector<std::string>& patterns) {
  return F::mapArray(patterns, [](const std::string& pattern) { return Text::lowercase(pattern); });
}

std::vector<std::string> withAlwaysAllowed(std::vector<std::string> patterns) {
  for (const std::string& address : ZeltoURLMatcherManager::alwaysAllowedAddresses()) {
    patterns.push_back("+" + address);
  }
  return patterns;
}

}  // namespace

ProfileZeltoPreferences* Zelto::defaultProfile() {
  ZeltoPreferences* record = prefs();
  return record == nullptr ? nullptr : record->defaultProfile();
}

bool Zelto::isWhitelistMode() {
  ProfileZeltoPreferences* profile = defaultProfile();
  return profile != nullptr && profile->enableWhitelistWebsites;
}

std::vector<std::string> Zelto::blockedURLs() {
  ProfileZeltoPreferences* profile = defaultProfile();
  return profile == nullptr ? std::vector<std::string>{} : profile->websiteListInForce();
}

std::vector<std::string> Zelto::unadjustedFilteredSites() {
  return F::filterArray(blockedURLs(), [](const std::string& site) { return !site.empty(); });
}

std::vector<std::string> Zelto::filteredSites() {
  return withAlwaysAllowed(unadjustedFilteredSites());
}

ZeltoURL::Formats Zelto::formatsOf(const std::vector<std::string>& patterns) {
  ZeltoURL::Formats formats;
  for (const std::string& pattern : patterns) {
    if (auto format = zeltoURL_->regexFormatFromString(pattern)) {
      formats.push_back(std::move(format));
    } else {
      log::warning("Error adding regex format: {}", pattern);
    }
  }
  return formats;
}

ZeltoURL::Formats Zelto::blockedRegexURLs() { return formatsOf(filteredSites()); }

ZeltoURL::Formats Zelto::getBrowserExtensionBlockURLs() {
  ProfileZeltoPreferences* profile = defaultProfile();
  std::vector<std::string> patterns;
  if (profile != nullptr) {
    // Empty entries are left out: in allow-list mode one would become "+", which allows every
    // http and https address, and in block-list mode it converts to nothing.
    if (profile->enableWhitelistWebsites) {
      for (const std::string& site : profile->whitelistedWebsiteList()) {
        if (!site.empty()) patterns.push_back("+" + site);
      }
    } else {
      patterns = F::filterArray(profile->blockedWebsiteList(),
                                [](const std::string& site) { return !site.empty(); });
    }
  }
  return formatsOf(withAlwaysAllowed(std::move(patterns)));
}

std::vector<std::string> Zelto::normalizedBlockedURLs() { return lowercased(blockedURLs()); }

std::vector<std::string> Zelto::blockedDomains() {
  ProfileZeltoPreferences* profile = defaultProfile();
  return profile == nullptr ? std::vector<std::string>{}
                            : lowercased(profile->blockedWebsiteList());
}

bool Zelto::urlIsBlocked(std::string_view url) { return urlMatchManager_->shouldBlock(url); }

std::vector<std::string> Zelto::bulkFilterUrls(const std::vector<std::string>& urls) {
  return zeltoURL_->bulkFilterUrls(urls, blockedRegexURLs(), isWhitelistMode());
}

}  // namespace zelto
