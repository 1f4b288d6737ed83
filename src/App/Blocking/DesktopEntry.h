// DesktopEntry: the keys of a desktop entry file's [Desktop Entry] group, read the one way every
// part of the program reads them (what is blocked, what the settings page lists).
//
// Lines are "Key=Value" with blanks around either side ignored; other groups, comments and lines
// without "=" are skipped. A key given twice keeps its first value. Localised keys ("Name[de]")
// are keys of their own. Nothing here fails: a text that is no desktop entry simply has no keys.
//
// A value type; any thread.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace zelto {

class DesktopEntry {
 public:
  explicit DesktopEntry(const std::string& text);

  // The value as written, escapes and all (what Exec= quoting rules start from).
  std::optional<std::string> rawValue(const std::string& key) const;
  // A string value with its escapes undone.
  std::optional<std::string> string(const std::string& key) const;
  // True only for the value "true".
  bool isTrue(const std::string& key) const;

  // "\s", "\n", "\t", "\r" and "\\" undone; any other backslash stays, for the Exec= quoting.
  static std::string unescaped(const std::string& value);

 private:
  std::map<std::string, std::string> values_;
};

}  // namespace zelto
