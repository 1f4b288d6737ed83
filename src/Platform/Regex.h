// Regex: a compiled regular expression in ICU's syntax, searched for anywhere in a text.
//
// Patterns come from users, so every search is bounded: it runs under ICU's time limit
// (kTimeLimit steps of the match engine, on the order of milliseconds each) and ICU's default
// backtracking stack limit. A search that hits either limit (or fails in any other way) counts
// as no match, and the first such search of a compiled expression logs one warning naming its
// source and why; later ones are silent. No flags are given: matching is case-sensitive, "."
// doesn't match line ends.
//
// Copies share one compiled pattern (immutable) and one warned-once flag. Thread safety: a
// Regex may be searched from any number of threads at once; each search uses its own matcher.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "Platform/Status.h"

namespace zelto {

class Regex {
 public:
  // About a second on a current machine: far beyond any sane site pattern against a URL, short
  // enough that a pathological one can't stall the caller's loop for long.
  static constexpr int32_t kTimeLimit = 1000;

  // The expression of `source` (UTF-8), or a failure naming the source and ICU's reason (for
  // example an unbalanced parenthesis, or a source that isn't valid UTF-8).
  static Result<Regex> compile(std::string_view source);

  // True when the expression matches somewhere in `text` (UTF-8; invalid sequences read as
  // U+FFFD). False on no match and on a search that ran past a limit or failed (see above).
  bool isMatch(std::string_view text) const;

  const std::string& source() const;

 private:
  struct Compiled;
  explicit Regex(std::shared_ptr<Compiled> compiled) : compiled_(std::move(compiled)) {}

  std::shared_ptr<Compiled> compiled_;
};

}  // namespace zelto
