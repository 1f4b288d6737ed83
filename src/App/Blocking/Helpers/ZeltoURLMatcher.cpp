#include "App/Blocking/Helpers/ZeltoURLMatcher.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "App/Blocking/Helpers/ZeltoURL.h"
#include "Platform/Check.h"
#include "Platform/Text.h"

namespace zelto {
namespace {

// What may come before a plain pattern's text in an address prefix.
constexpr std::array<std::string_view, 5> kBefore = {"", "http://", "https://", "http://www.",
                                                     "https://www."};
constexpr uint8_t kStem = 0x10;  // the stem follows, not the whole text

}  // namespace

struct ZeltoURLMatcher::LazyRegex {
  std::string source;
  std::once_flag compiled;
  std::atomic<bool> done{false};  // once compiled: no need to go through the flag
  std::optional<Regex> regex;     // set by the compilation, when it succeeded
};

// Lists of many thousand hosts are mostly matchers: keep them small.
static_assert(sizeof(ZeltoURLMatcher) <= 64);

const std::vector<std::pair<std::string, std::string>>& ZeltoURLMatcher::replacements() {
  static const auto* table = [] {
    const auto whole = ZeltoURL::wholeReplacements();
    auto* sorted = new std::vector<std::pair<std::string, std::string>>(whole.begin(), whole.end());
    ZELTO_CHECK(sorted->size() < 255, "patterns replaced whole: one byte indexes them");
    return sorted;
  }();
  return *table;
}

ZeltoURLMatcher::ZeltoURLMatcher(const std::string& pattern, bool isWhitelisted)
    : originalPattern_(Text::lowercase(pattern)), isWhitelisted_(isWhitelisted) {
  if (originalPattern_.empty()) return;  // matches nothing
  std::string_view text = originalPattern_;

  const auto& table = replacements();
  auto replaced =
      std::lower_bound(table.begin(), table.end(), originalPattern_,
                       [](const auto& entry, const std::string& key) { return entry.first < key; });
  if (replaced != table.end() && replaced->first == originalPattern_) {
    replaced_ = static_cast<uint8_t>(replaced - table.begin() + 1);
    text = replaced->second;
  }

  if (text.starts_with('+') || text.starts_with('-')) {
    isWhitelisted_ = text.front() == '+';
    priority_ = true;
    text.remove_prefix(1);
    if (replaced_ == 0) textBegin_ = 1;
  }

  if ((text.starts_with('/') && text.ends_with('/')) || text.find('*') != std::string::npos) {
    // The source that ZeltoURL::getRegexFromString(text) would compile; compiled on demand.
    isRegex_ = true;
    regex_ = std::make_shared<LazyRegex>();
    regex_->source = ZeltoURL::getRegexFormatFromString(std::string(text)).regexUrlStr;
    return;
  }

  // A plain pattern: the prefixes a matching address begins with. A pattern that ends in "/"
  // also gets the same prefixes without that "/" (its stem), for the address without its last
  // "/".
  if (text.ends_with('/')) exactMatch_ = true;
  auto add = [this](uint8_t before, bool stem) {
    prefixCodes_[prefixCount_++] = static_cast<uint8_t>(before | (stem ? kStem : 0));
  };
  if (text.starts_with("http://") || text.starts_with("https://")) {
    add(0, false);
    if (exactMatch_) add(0, true);
    return;
  }
  if (text.find("://") != std::string::npos) {
    // Another scheme ("chrome://"): the pattern is a prefix, whatever it ends with.
    exactMatch_ = false;
    add(0, false);
    return;
  }
  add(0, false);
  add(1, false);
  add(2, false);
  if (exactMatch_) {
    add(1, true);
    add(2, true);
  }
  if (!text.starts_with("www.")) {
    add(3, false);
    add(4, false);
    if (exactMatch_) {
      add(3, true);
      add(4, true);
    }
  }
}

ZeltoURLMatcher::Prefix ZeltoURLMatcher::prefix(size_t i) const {
  const uint8_t code = prefixCodes_[i];
  std::string_view rest =
      replaced_ != 0
          ? std::string_view(replacements()[replaced_ - 1].second).substr(priority_ ? 1 : 0)
          : std::string_view(originalPattern_).substr(textBegin_);
  if ((code & kStem) != 0) rest.remove_suffix(1);
  return {kBefore[code & 0x7], rest};
}

std::vector<std::string> ZeltoURLMatcher::patterns() const {
  std::vector<std::string> out;
  for (size_t i = 0; i < prefixCount_; ++i) out.push_back(prefix(i).text());
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
    const Prefix prefix = this->prefix(i);
    if (prefix.empty() || !prefix.isPrefixOf(lower)) continue;
    // The first prefix the address begins with decides.
    if (!exactMatch_) return true;
    std::string_view rest = lower.substr(prefix.size());
    return rest.empty() || rest.front() == '#' || rest.front() == '?';
  }
  return false;
}

}  // namespace zelto
