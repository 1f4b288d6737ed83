#include "App/Blocking/DesktopEntry.h"

#include <sstream>

namespace zelto {

namespace {

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

DesktopEntry::DesktopEntry(const std::string& text) {
  bool inEntry = false;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    line = trimmed(line);
    if (line.starts_with('[')) {
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    const size_t equals = line.find('=');
    if (!inEntry || equals == std::string::npos || line.starts_with('#')) continue;
    values_.emplace(trimmed(line.substr(0, equals)), trimmed(line.substr(equals + 1)));
  }
}

std::optional<std::string> DesktopEntry::rawValue(const std::string& key) const {
  auto found = values_.find(key);
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

std::optional<std::string> DesktopEntry::string(const std::string& key) const {
  std::optional<std::string> value = rawValue(key);
  if (value) *value = unescaped(*value);
  return value;
}

bool DesktopEntry::isTrue(const std::string& key) const { return rawValue(key) == "true"; }

std::string DesktopEntry::unescaped(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    const char next = value[++i];
    switch (next) {
      case 's':
        out += ' ';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case '\\':
        out += '\\';
        break;
      default:
        out += '\\';
        out += next;
    }
  }
  return out;
}

}  // namespace zelto
