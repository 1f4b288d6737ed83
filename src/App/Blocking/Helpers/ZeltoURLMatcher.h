// ZeltoURLMatcher: one site pattern, ready to test URLs against.
//
// A pattern in regex form ("/.../") or with a "*" anywhere is converted and compiled (see
// ZeltoURL) and matches where its expression matches. Any other pattern is plain: it becomes a
// short list of address prefixes (itself, and with "http://", "https://" and "www." put first
// as needed), and a URL matches when it begins with one of them; a plain pattern ending in "/"
// matches only that address, optionally followed by a query or a fragment. A "+" first makes
// the matcher allow and a "-" block, both with priority over every plain pattern. Patterns and
// URLs are compared lower-cased; block-page addresses never match.
//
// An empty pattern (none left after lower-casing) makes a matcher that matches nothing: one
// stray empty line in a site list must not block, or allow, the whole web.
//
// An expression is compiled the first time it is needed (a search, or `regex()`), not when the
// matcher is made: a list of many thousand patterns is ready at once, and an expression that
// no URL ever gets near costs nothing. One that doesn't compile matches nothing, unlogged.
//
// Immutable after construction but for that one compilation; a plain value (copies share the
// expression, compiled or not). Any thread: the compilation happens once, whoever asks first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Platform/Regex.h"

namespace zelto {

class ZeltoURLMatcher {
 public:
  // `isWhitelisted`: whether a match allows, for a pattern without a "+" or "-" first.
  explicit ZeltoURLMatcher(const std::string& pattern, bool isWhitelisted = false);

  bool isMatch(std::string_view url) const;
  // The same, for a URL already lower-cased (Text::lowercase) that is no block-page address:
  // what a caller testing one URL against many matchers does once, not once per matcher.
  bool isMatchLowercased(std::string_view lowercasedUrl) const;

  // A match allows (else it blocks).
  bool isWhitelisted() const { return isWhitelisted_; }
  // A plain pattern that ended in "/": only the address itself, with a query or fragment.
  bool exactMatch() const { return exactMatch_; }
  // Tested with `regex` rather than `patterns`.
  bool isRegex() const { return isRegex_; }
  // The pattern began with "+" or "-".
  bool priority() const { return priority_; }
  // The pattern as given, lower-cased.
  const std::string& originalPattern() const { return originalPattern_; }
  // One address prefix of a plain pattern: a scheme and "www." part, then the pattern (or its
  // stem, without the last "/"). Views into the matcher: valid while it is.
  struct Prefix {
    std::string_view before;
    std::string_view rest;
    size_t size() const { return before.size() + rest.size(); }
    bool empty() const { return size() == 0; }
    bool isPrefixOf(std::string_view url) const {
      return url.starts_with(before) && url.substr(before.size()).starts_with(rest);
    }
    std::string text() const { return std::string(before).append(rest); }
  };
  // The address prefixes of a plain pattern, in the order they are tried; empty for a regex.
  std::vector<std::string> patterns() const;
  // The same one by one, without copies: `prefixCount()` of them.
  size_t prefixCount() const { return prefixCount_; }
  Prefix prefix(size_t i) const;

  // The source of a regex matcher's expression (empty for a plain matcher, and for the
  // patterns "/" and "//", which hold none).
  const std::string& regexSource() const;
  // The compiled expression of a regex matcher, compiled now if it wasn't yet; nothing when it
  // doesn't compile (or isn't a regex matcher).
  const std::optional<Regex>& regex() const;

 private:
  // The table of patterns replaced whole, in order, for `replaced_` to point into.
  static const std::vector<std::pair<std::string, std::string>>& replacements();

  std::string originalPattern_;
  struct LazyRegex;
  std::shared_ptr<LazyRegex> regex_;  // regex matchers only
  // A plain pattern's prefixes are not stored but described, a byte each: which scheme and
  // "www." part comes first (an index into a table of five), and whether the stem follows
  // rather than the whole text. The text is originalPattern_ from textBegin_ on, or, for a
  // pattern replaced whole, the replacement (replaced_ is one more than its index in the
  // table; 0: none). A list of many thousand hosts is held in little more than their own bytes:
  // a matcher is 64 bytes.
  static constexpr size_t kMostPrefixes = 9;
  std::array<uint8_t, kMostPrefixes> prefixCodes_{};
  uint8_t prefixCount_ = 0;
  uint8_t replaced_ = 0;
  uint8_t textBegin_ = 0;
  bool isWhitelisted_ : 1 = false;
  bool exactMatch_ : 1 = false;
  bool isRegex_ : 1 = false;
  bool priority_ : 1 = false;
};

}  // namespace zelto
