// RequiredLiterals: plain texts that a regular expression (ICU syntax, no flags, as Regex
// compiles it) cannot match without, read from its source; what lets ZeltoURLMatchIndex skip
// the expressions that can't match a URL without running them.
//
// The reading is deliberately cautious: it must never claim a text the expression can do
// without. Only ASCII characters that stand for themselves count (letters, digits, most
// punctuation, escaped punctuation, a set of one such character like "[.]"). Between them, what
// stands for exactly one character of some kind (".", a set, "\d", a non-ASCII character) is a
// gap in the text, kGap; anything else (anchors, "\b", back references) ends it. A character
// or group followed by a quantifier is dropped, lookarounds say nothing, and an alternation
// says only that one of its branches' texts appears. A source it doesn't follow in full (inline
// flags, "\Q", "\x", "\p", named groups, comments, sets holding strings, nesting deeper than
// a limit) yields no condition at all, as does one whose matches need no particular text.
//
// Class operations only, no state: any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zelto {

class RequiredLiterals {
 public:
  RequiredLiterals() = delete;

  // In a text: exactly one character (one code point: 1 to 4 bytes of UTF-8), whatever it
  // is. Texts neither begin nor end with one.
  static constexpr char kGap = '\0';
  // At least one of these texts appears in every match of the expression.
  using AnyOf = std::vector<std::string>;

  // Conditions that every match meets together; none when nothing can be said for sure.
  static std::vector<AnyOf> of(std::string_view source);

  // Whether `text` (valid UTF-8, as Text::lowercase makes it) holds `literal`, gaps and all.
  static bool isIn(std::string_view literal, std::string_view text);
  // The same, with byte `from` of the literal (not a gap) at byte `at` of the text.
  static bool isAt(std::string_view literal, std::string_view text, size_t from, size_t at);

  // A rough cost of `condition` as a filter: how often it may hold for a URL that the
  // expression doesn't match. Texts whose longest part without a gap is short, and parts of
  // "https://www.", cost most.
  static int cost(const AnyOf& condition);
  // That of one text (a condition's is the sum of its texts').
  static int cost(std::string_view text);
};

}  // namespace zelto
