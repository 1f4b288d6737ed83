// AppCommands: zeltoctl's apps commands: the default profile's blocked applications, each an
// entry with its path and four flags (how it is made to go, and whether it comes back when
// blocking ends).
//
// An edit is all or nothing: one bad argument and nothing changes. While the running period is
// locked, removing an entry or changing its flags is refused (either can let the application
// run); adding one goes through.
//
// REQUIRES: the controller has a record with a default profile (CommandSession makes sure).
// Class operations only; the thread that owns the controller (the main thread).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "App/Commands/CommandOutcome.h"
#include "App/Controller/Zelto.h"

namespace zelto {

class AppCommands {
 public:
  struct Options {
    std::vector<std::string> paths{};
    // Relative paths are taken against it.
    std::string workingDirectory{};
    // At most one of the four ways to end it (none: quit, for a new application).
    bool quit = false;
    bool hide = false;
    bool forceQuit = false;
    bool softQuit = false;
    std::optional<bool> reopen{};

    bool setsFlags() const { return quit || hide || forceQuit || softQuit || reopen; }
  };

  static CommandOutcome list(Zelto& zelto, const Options& options);
  // Exit 2 for a path where no application stands. A path already listed gets the flags given,
  // or is reported when none are.
  static CommandOutcome add(Zelto& zelto, const Options& options);
  // Exit 1 for a path that isn't listed.
  static CommandOutcome remove(Zelto& zelto, const Options& options);
};

}  // namespace zelto
