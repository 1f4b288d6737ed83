// RequiredLiterals: plain texts that a regular expression (ICU syntax, no flags, as Regex
// compiles it) cannot match without, read from its source; what lets ZeltoURLMatchIndex skip
// the expressions that can't match a URL without running them.
//
// The reading is deliberately cautious: it must never claim a text the expression can do
// without. Only ASCII characters that stand for themselves count (letters, digits, most
// punctuation, escaped punctuation, a class of one such character like "[.]"); anything else
// (".", classes, "\d", anchors, non-ASCII characters) ends a literal. A character or group
// followed by a quantifier is dropped, lookarounds say nothing, and an alternation says only
// that one of its branches' literals appears. A source it doesn't follow in full (inline
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

  // At least one of these texts appears in every match of the expression.
  using AnyOf = std::vector<std::string>;

  // Conditions that every match meets together; none when nothing can be said for sure.
  static std::vector<AnyOf> of(std::string_view source);

  // A rough cost of `condition` as a filter: how often it may hold for a URL that the
  // expression doesn't match. Short texts and parts of "https://www." cost most.
  static int cost(const AnyOf& condition);
};

}  // namespace zelto
