// ZeltoUtils: small shared utilities: blocking-mode names, and where the configuration lives.
//
// The configuration directory is the "ConfigurationDir" override when set, else the user's
// Application Support directory + "/Zelto". Nothing is cached: every call looks at the user
// defaults and the file system afresh.
//
// Class operations only. Thread safety: any thread (creating a directory that another thread
// has just created is not an error).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Platform/Status.h"

namespace zelto {

class Workspace;

class ZeltoUtils {
 public:
  // 0 "normal", 1 "timer", 2 "schedule", anything else "unknown".
  static std::string getZeltoTypeAsString(int32_t zeltoType);

  // The configuration directory with N + ".cfg" appended; nothing without a directory.
  static std::optional<std::string> getConfigurationPath(const std::string& configNamespace);
  static std::optional<std::string> getApplicationSupportDirectory();
  static Status createApplicationSupportDirectoryIfNecessary();
  // Success when anything stands at the path, or once the directory (with its parents) has
  // been made. No path at all is a failure.
  static Status createDirectoryIfNecessary(const std::optional<std::string>& path);

  // One-off questions to the workspace, without observing it. Running: at least one application
  // with the identifier (or, by path, whose bundle path begins with `path`: a plain,
  // case-sensitive prefix test, so a sibling bundle whose name extends it counts too) that is
  // not terminated.
  static bool isApplicationRunning(Workspace& workspace, const std::string& bundleIdentifier);
  static bool isApplicationRunningByAppPath(Workspace& workspace, const std::string& path);
};

}  // namespace zelto
