#include "App/Blocking/Helpers/ZeltoURLMatcher.h"

#include <atomic>
#include <mutex>

#include "App/Blocking/Helpers/ZeltoURL.h"
#include "Platform/Text.h"

namespace zelto {

struct ZeltoURLMatcher::LazyRegex {
  std::string source;
  std::once_flag compiled;
  std::atomic<bool> done{false};  // once compiled: no need to go through the flag
  std::optional<Regex> regex;     // set by the compilation, when it succeeded
};

ZeltoURLMatcher::ZeltoURLMatcher(const std::string& pattern, bool isWhitelisted)
    : isWhitelisted_(isWhitelisted), originalPattern_(Text::lowercase(pattern)) {
  if (originalPattern_.empty()) return;  // matches nothing
  std::string_view text = originalPattern_;

  static const auto whole = ZeltoURL::wholeReplacements();
  if (auto replaced = whole.find(originalPattern_); replaced != whole.end()) {
    text = replaced->second;
  }

  if (text.starts_with('+') || text.starts_with('-')) {
    isWhitelisted_ = text.front() == '+';
    priority_ = true;
    text.remove_prefix(1);
  }

  if ((text.starts_with('/') && text.ends_with('/')) || text.find('*') != std::string::npos) {
    // The source that ZeltoURL::getRegexFromString(text) would compile; compiled on demand.
    isRegex_ = true;
    regex_ = std::make_shared<LazyRegex>();
    regex_->source = ZeltoURL::getRegexFormatFromString(std::string(text)).regexUrlStr;
    return;
  }

  // A plain pattern: the prefixes a matching address begins with. A pattern that ends in "/"
  // also gets the same prefixes without that "/" (S), for the address without its last "/".
  std::string_view stem = text;
  if (text.ends_with('/')) {
    exactMatch_ = true;
    stem.remove_suffix(1);
  }
  auto add = [this](std::string_view before, std::string_view rest) {
    prefixes_.append(before).append(rest);
    prefixEnd_[prefixCount_++] = prefixes_.size();
  };
  if (text.starts_with("http://") || text.starts_with("https://")) {
    add("", text);
    if (exactMatch_) add("", stem);
    return;
  }
  if (text.find("://") != std::string::npos) {
    // Another scheme ("chrome://"): the pattern is a prefix, whatever it ends with.
    exactMatch_ = false;
    add("", text);
    return;
  }
  const bool withWww = !text.starts_with("www.");
  // What the prefixes below take, reserved at once.
  prefixes_.reserve(
      (3 * text.size() + 15 + (exactMatch_ ? 2 * stem.size() + 15 : 0)) +
      (withWww ? 2 * text.size() + 23 + (exactMatch_ ? 2 * stem.size() + 23 : 0) : 0));
  add("", text);
  add("http://", text);
  add("https://", text);
  if (exactMatch_) {
    add("http://", stem);
    add("https://", stem);
  }
  if (withWww) {
    add("http://www.", text);
    add("https://www.", text);
    if (exactMatch_) {
      add("http://www.", stem);
      add("https://www.", stem);
    }
  }
}

std::vector<std::string> ZeltoURLMatcher::patterns() const {
  std::vector<std::string> out;
  for (size_t i = 0; i < prefixCount_; ++i) out.emplace_back(prefix(i));
  return out;
}

const std::string& ZeltoURLMatcher::regexSource() const {
  static const std::string kNone;
  return regex_ ? regex_->source : kNone;
}

const std::optional<Regex>& ZeltoURLMatcher::regex() const {
  static const std::optional<Regex> kNone;
  if (!regex_) return kNone;
  LazyRegex& lazy = *regex_;
  if (lazy.done.load(std::memory_order_acquire)) return lazy.regex;
  std::call_once(lazy.compiled, [&lazy] {
    // An empty source would match every address: it never compiles (see ZeltoURL).
    if (!lazy.source.empty()) {
      if (Result<Regex> regex = Regex::compile(lazy.source); regex.ok()) {
        lazy.regex = std::move(*regex);
      }
    }
    lazy.done.store(true, std::memory_order_release);
  });
  return lazy.regex;
}

bool ZeltoURLMatcher::isMatch(std::string_view url) const {
  const std::string lower = Text::lowercase(url);
  return !ZeltoURL::urlIsBlockedPage(lower) && isMatchLowercased(lower);
}

bool ZeltoURLMatcher::isMatchLowercased(std::string_view lower) const {
  if (isRegex_) {
    const std::optional<Regex>& regex = this->regex();
    return regex && regex->isMatch(lower);
  }

  for (size_t i = 0; i < prefixCount_; ++i) {
    const std::string_view prefix = this->prefix(i);
    if (prefix.empty() || !lower.starts_with(prefix)) continue;
    // The first prefix the address begins with decides.
    if (!exactMatch_) return true;
    std::string_view rest = lower.substr(prefix.size());
    return rest.empty() || rest.front() == '#' || rest.front() == '?';
  }
  return false;
}

}  // namespace zelto
