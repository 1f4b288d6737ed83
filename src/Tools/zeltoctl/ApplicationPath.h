// ApplicationPath: what zeltoctl takes for an application to block, and the path it stores.
//
// An application is an executable regular file, a desktop entry (a regular file named
// "*.desktop" whose [Desktop Entry] group has an Exec= line) or an application bundle (a
// directory with Contents/Info.plist or Contents/MacOS). Paths are stored absolute and
// lexically normalised; symbolic links are kept as written (the watchdog matches the path the
// user knows).
//
// Class operations only; any thread.
#pragma once

#include <string>

#include "Platform/FileSystem.h"
#include "Platform/Status.h"

namespace zelto {

class ApplicationPath {
 public:
  // `path` against `workingDirectory` (absolute) when relative, without "." and ".."
  // components, repeated or trailing slashes; "/.." is "/". A failure when `path` is empty, or
  // relative and there is no working directory.
  static Result<std::string> absolute(const std::string& path, const std::string& workingDirectory);
  // Success when an application stands at `path`, else a failure saying what stands there.
  static Status check(const std::string& path, const FileSystem& fs);
};

}  // namespace zelto
