// BundleFactsCache: what the Contents/Info.plist of each bundle says, read again only when the
// file has changed (another device, file number, size or modification time).
//
// Ownership: owns its cache; answers stay valid until the next call. Threads: one thread at a
// time (the workspace's loop).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "Platform/FileSystem.h"

namespace zelto {

class BundleFactsCache {
 public:
  // Which file a path named when it was read, and which version of it.
  struct FileVersion {
    uint64_t device = 0;
    uint64_t fileNumber = 0;
    uint64_t size = 0;
    int64_t modifiedNanoseconds = 0;
    bool operator==(const FileVersion&) const = default;
  };
  // What a bundle's Info.plist says, as of one version of the file.
  struct Facts {
    FileVersion version;
    std::string readFailure;  // why the file could not be read; empty when it was
    bool isPropertyList = false;
    std::string identifier;                     // empty when it names none
    std::optional<std::string> executableName;  // CFBundleExecutable, when a string
  };

  // The file at `path` (links followed) as it stands now; nothing when it is no regular file.
  static std::optional<FileVersion> regularFileVersion(const std::string& path);
  // A name that stays inside Contents/MacOS.
  static bool isPlainFileName(const std::string& name);

  // The facts of bundle B (a canonical path); nothing when B has no Info.plist.
  const Facts* factsOf(const std::string& bundlePath);
  std::optional<std::string> identifierOf(const std::string& bundlePath);
  // B/Contents/MacOS/<CFBundleExecutable>; nothing when the Info.plist names no plain file name.
  std::optional<std::string> executableOf(const std::string& bundlePath);

 private:
  LocalFileSystem fs_;
  std::map<std::string, Facts> bundles_;  // by canonical bundle path
};

}  // namespace zelto
