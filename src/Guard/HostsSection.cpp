#include "Guard/HostsSection.h"

#include <set>

namespace zelto {
namespace {

constexpr std::string_view kBeginLine =
    "# BEGIN zelto-guard: written while a lock runs; edits are undone\n";

// A host name: labels of letters, digits, "-" and "_", none empty or beginning with "-".
bool isName(std::string_view name) {
  if (name.empty() || name.size() > 253) return false;
  char previous = '.';
  for (char c : name) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_'))
      return false;
    if (previous == '.' && (c == '.' || c == '-')) return false;
    previous = c;
  }
  return previous != '.';
}

// A line of the guard's form, without its line end.
bool isOurLine(std::string_view line) {
  for (std::string_view address : {"0.0.0.0 ", ":: "}) {
    if (line.starts_with(address)) return isName(line.substr(address.size()));
  }
  return false;
}

// A line's text without its end ("\n", "\r\n").
std::string_view content(std::string_view line) {
  if (line.ends_with('\n')) line.remove_suffix(1);
  if (line.ends_with('\r')) line.remove_suffix(1);
  return line;
}

struct Stripped {
  std::string kept;
  size_t sectionAt = std::string::npos;  // where, in `kept`, the first section stood
};

Stripped strip(std::string_view text) {
  Stripped out;
  out.kept.reserve(text.size());
  bool inSection = false;
  bool paired = false;  // the section's END is still to come
  for (size_t at = 0; at < text.size();) {
    const size_t newline = text.find('\n', at);
    const size_t next = newline == std::string_view::npos ? text.size() : newline + 1;
    const std::string_view line = text.substr(at, next - at);
    const std::string_view body = content(line);
    at = next;
    if (body.starts_with(HostsSection::kBegin)) {
      if (!inSection) {
        inSection = true;
        paired = false;
        for (size_t from = at; from < text.size();) {
          const size_t end = text.find('\n', from);
          const size_t after = end == std::string_view::npos ? text.size() : end + 1;
          if (content(text.substr(from, after - from)) == HostsSection::kEnd) {
            paired = true;
            break;
          }
          from = after;
        }
        if (out.sectionAt == std::string::npos) out.sectionAt = out.kept.size();
      }
      continue;
    }
    if (inSection && body == HostsSection::kEnd) {
      inSection = false;
      continue;
    }
    if (inSection && isOurLine(body)) continue;
    // Someone else's line: kept. An unended section ends at it.
    if (inSection && !paired) inSection = false;
    out.kept.append(line);
  }
  return out;
}

}  // namespace

std::string HostsSection::section(const std::vector<std::string>& hosts) {
  std::string out;
  std::set<std::string_view> written;
  std::vector<std::string> names;
  for (const std::string& host : hosts) {
    if (!isName(host)) continue;
    names.push_back(host);
    if (!host.starts_with("www.")) names.push_back("www." + host);
  }
  for (const std::string& name : names) {
    if (!written.insert(name).second) continue;
    out.append("0.0.0.0 ").append(name).append("\n:: ").append(name).append("\n");
  }
  if (out.empty()) return out;
  return std::string(kBeginLine) + out + std::string(kEnd) + "\n";
}

std::string HostsSection::withSection(std::string_view text,
                                      const std::vector<std::string>& hosts) {
  Stripped stripped = strip(text);
  const std::string ours = section(hosts);
  const size_t at = stripped.sectionAt == std::string::npos ? 0 : stripped.sectionAt;
  return stripped.kept.insert(at, ours);
}

std::string HostsSection::withoutSection(std::string_view text) { return strip(text).kept; }

}  // namespace zelto
