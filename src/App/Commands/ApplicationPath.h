// ApplicationPath: the path zeltoctl stores for an application to block. What it takes for one is
// the core's to say (BlockedExecutables::checkEntry, as the application reads entries).
//
// Paths are stored absolute and lexically normalised; symbolic links are kept as written (the
// watchdog matches the path the user knows).
//
// Class operations only; any thread.
#pragma once

#include <string>

#include "Platform/Status.h"

namespace zelto {

class ApplicationPath {
 public:
  // `path` against `workingDirectory` (absolute) when relative, without "." and ".."
  // components, repeated or trailing slashes; "/.." is "/". A failure when `path` is empty, or
  // relative and there is no working directory.
  static Result<std::string> absolute(const std::string& path, const std::string& workingDirectory);
};

}  // namespace zelto
