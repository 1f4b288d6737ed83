// HostsSection: the guard's marked section of the hosts file, as text.
//
// The section maps each host name, and its "www." form, to 0.0.0.0 and to :::
//
//   # BEGIN zelto-guard: written while a lock runs; edits are undone
//   0.0.0.0 example.com
//   :: example.com
//   ...
//   # END zelto-guard
//
// It goes first in the file, where the resolver looks first, or where a section already
// stands. Every other line is kept byte for byte, a missing final newline included, so that
// removing the section gives back the text it was added to. The guard's own lines are the
// marks and, between them, lines of its form ("0.0.0.0 NAME", ":: NAME"); anything else between
// the marks is someone else's and is kept, after the section. A damaged section is read soundly:
// a "BEGIN" without its "END" ends at the first line not of the guard's form (never taking the
// user's lines with it), and a second section is merged into the first.
//
// Names that aren't plain host names (letters, digits, "-", "_", dots) are left out, so that
// nothing in a list can put a line of its own into the file.
//
// Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zelto {

class HostsSection {
 public:
  static constexpr std::string_view kBegin = "# BEGIN zelto-guard";
  static constexpr std::string_view kEnd = "# END zelto-guard";

  // `text` with exactly one section, holding `hosts`; with none when `hosts` is empty.
  static std::string withSection(std::string_view text, const std::vector<std::string>& hosts);
  // `text` without the guard's lines.
  static std::string withoutSection(std::string_view text);
  // The section alone, ending in a newline; empty for no hosts.
  static std::string section(const std::vector<std::string>& hosts);
};

}  // namespace zelto
