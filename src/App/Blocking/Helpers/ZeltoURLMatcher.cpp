#include "App/Blocking/Helpers/ZeltoURLMatcher.h"

#include "App/Blocking/Helpers/ZeltoURL.h"
#include "Platform/Text.h"

namespace zelto {

ZeltoURLMatcher::ZeltoURLMatcher(const std::string& pattern, bool isWhitelisted)
    : isWhitelisted_(isWhitelisted), originalPattern_(Text::lowercase(pattern)) {
  if (originalPattern_.empty()) return;  // matches nothing
  std::string text = originalPattern_;

  const auto whole = ZeltoURL::wholeReplacements();
  if (auto replaced = whole.find(text); replaced != whole.end()) text = replaced->second;

  if (text.starts_with('+') || text.starts_with('-')) {
    isWhitelisted_ = text.front() == '+';
    priority_ = true;
    text.erase(0, 1);
  }

  if ((text.starts_with('/') && text.ends_with('/')) || text.find('*') != std::string::npos) {
    isRegex_ = true;
    if (Result<Regex> regex = ZeltoURL::getRegexFromString(text); regex.ok()) {
      regex_ = std::move(*regex);
    }
    return;
  }

  // A plain pattern: the prefixes a matching address begins with. A pattern that ends in "/"
  // also gets the same prefixes without that "/" (S), for the address without its last "/".
  std::string stem = text;
  if (text.ends_with('/')) {
    exactMatch_ = true;
    stem.pop_back();
  }
  if (text.starts_with("http://") || text.starts_with("https://")) {
    patterns_.push_back(text);
    if (exactMatch_) patterns_.push_back(stem);
    return;
  }
  if (text.find("://") != std::string::npos) {
    // Another scheme ("chrome://"): the pattern is a prefix, whatever it ends with.
    exactMatch_ = false;
    patterns_.push_back(text);
    return;
  }
  patterns_ = {text, "http://" + text, "https://" + text};
  if (exactMatch_) {
    patterns_.push_back("http://" + stem);
    patterns_.push_back("https://" + stem);
  }
  if (!text.starts_with("www.")) {
    patterns_.push_back("http://www." + text);
    patterns_.push_back("https://www." + text);
    if (exactMatch_) {
      patterns_.push_back("http://www." + stem);
      patterns_.push_back("https://www." + stem);
    }
  }
}

bool ZeltoURLMatcher::isMatch(std::string_view url) const {
  const std::string lower = Text::lowercase(url);
  return !ZeltoURL::urlIsBlockedPage(lower) && isMatchLowercased(lower);
}

bool ZeltoURLMatcher::isMatchLowercased(std::string_view lower) const {
  if (isRegex_) return regex_ && regex_->isMatch(lower);

  for (const auto& prefix : patterns_) {
    if (prefix.empty() || !lower.starts_with(prefix)) continue;
    // The first prefix the address begins with decides.
    if (!exactMatch_) return true;
    std::string_view rest = lower.substr(prefix.size());
    return rest.empty() || rest.front() == '#' || rest.front() == '?';
  }
  return false;
}

}  // namespace zelto
