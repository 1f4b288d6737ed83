// SiteCommands: zeltoctl's sites and allow-list commands: the default profile's blocked sites,
// its allow list and which of the two is in force.
//
// An edit is all or nothing: one bad argument and nothing changes. After a change the record is
// saved and "DidUpdateBlockSettings" posted, so that the controller's matchers follow. While
// the running period is locked, changes that could let a site through are refused.
//
// REQUIRES: the controller has a record with a default profile (CommandSession makes sure).
// Class operations only; the thread that owns the controller (the main thread).
#pragma once

#include <string>
#include <vector>

#include "App/Commands/CommandOutcome.h"
#include "App/Controller/Zelto.h"

namespace zelto {

class SiteCommands {
 public:
  struct Options {
    bool allow = false;  // the allow list, not the blocked sites
    std::vector<std::string> patterns;
    // Only the outcome's text is shown: its report may leave out the list.
    bool textOnly = false;
  };

  static CommandOutcome list(Zelto& zelto, const Options& options);
  // Patterns already listed are reported and skipped. Exit 2 for an empty pattern or one whose
  // expression doesn't compile.
  static CommandOutcome add(Zelto& zelto, const Options& options);
  // Exit 1 for a pattern that isn't listed.
  static CommandOutcome remove(Zelto& zelto, const Options& options);
  // Allow-list mode on or off.
  static CommandOutcome setAllowList(Zelto& zelto, bool on);
};

}  // namespace zelto
