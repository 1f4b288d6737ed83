// Text: the string operations the rest of the program needs: Unicode ones by ICU's rules, and the
// ASCII case-blind comparisons that protocols ask for.
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

  // Case-blind for ASCII letters only, every other byte (UTF-8 sequences included) compared as
  // it is, whatever the locale: for names a protocol defines as ASCII and case-insensitive,
  // such as HTTP header names and methods, URL schemes and host names ("Host", "HOST" and
  // "host" are one; "ÄB" and "äb" are not). Text meant for people compares through
  // `lowercase`.
  static bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);
  static bool startsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix);
  // `text` with its ASCII letters in lower case and every other byte as it is.
  static std::string asciiLowercase(std::string_view text);

  // `text` without the horizontal white space (spaces of every kind and tabs, not line ends) at
  // either end.
  static std::string trimBlanks(std::string_view text);
};

}  // namespace zelto
