// RegexFormat: one site pattern converted to a regular expression (see ZeltoURL).
//
// A plain value; the compiled expression is shared between copies. Any thread.
#pragma once

#include <optional>
#include <string>

#include "Platform/Regex.h"

namespace zelto {

struct RegexFormat {
  // The expression's source built from the pattern.
  std::string regexUrlStr;
  // The pattern began with "+": a match allows rather than blocks.
  bool whitelist = false;
  // The compiled source; set only on formats that ZeltoURL compiled (and cached).
  std::optional<Regex> regex;
};

}  // namespace zelto
