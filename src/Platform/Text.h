// Text: the Unicode string operations the rest of the program needs, by ICU's rules.
//
// Strings are UTF-8 std::strings; invalid sequences read as U+FFFD. Class operations only, no
// state: any thread.
#pragma once

#include <string>
#include <string_view>

namespace zelto {

class Text {
 public:
  Text() = delete;

  // Lower case by Unicode's full case mapping in the root locale (not the user's: "I" is "i"
  // everywhere), so "ÄB" gives "äb" and "İ" gives "i̇". ASCII-only text takes a fast path.
  static std::string lowercase(std::string_view text);

  // `text` without the horizontal white space (spaces of every kind and tabs, not line ends) at
  // either end.
  static std::string trimBlanks(std::string_view text);
};

}  // namespace zelto
