// BundleInfo: what the running process knows about the application bundle it was started from.
//
// An executable that lies at B/Contents/MacOS/NAME belongs to the bundle B, whose identifier,
// executable name and version are read from B/Contents/Info.plist. Outside a bundle the bundle
// path is the executable's own directory and there is no identifier, no version.
//
// A plain value: `forExecutable` builds one from a path (tests use it directly); `current`
// describes this process: its executable's path is looked up once, its Info.plist parsed again
// only when the file's status changes. Thread safety: any thread.
#pragma once

#include <optional>
#include <string>

namespace zelto {

class FileSystem;

struct BundleInfo {
  std::string executablePath;
  std::string bundlePath;
  std::optional<std::string> bundleIdentifier;
  std::optional<std::string> executableName;  // CFBundleExecutable
  std::optional<std::string> shortVersion;    // CFBundleShortVersionString

  static BundleInfo forExecutable(const std::string& executablePath, const FileSystem& fs);

  // The identifier of the bundle at `bundlePath` (from its Contents/Info.plist), or nothing when
  // the path is not a bundle or the bundle has no identifier.
  static std::optional<std::string> identifierOfBundleAt(const std::string& bundlePath,
                                                         const FileSystem& fs);

  // The running process's bundle, found from its executable (/proc/self/exe on Linux, read at
  // the first call).
  static BundleInfo current(const FileSystem& fs);

  // The path of the running executable, links resolved; empty when it can't be found.
  static std::string currentExecutablePath();
};

}  // namespace zelto
