// SyncManager: the user's choice of another configuration directory ("ConfigurationDir").
//
// The setting lives in the process's standard user defaults; each program reads its own
// domain. A changed setting takes effect at the next path computation; files are not moved.
//
// Class operations only. Thread safety: any thread.
#pragma once

#include <optional>
#include <string>

namespace zelto {

class SyncManager {
 public:
  // The directory stored under "ConfigurationDir", used as it stands; nothing when unset or "".
  static std::optional<std::string> getConfiguredSyncDirectory();
  static void setConfiguredSyncDirectory(const std::string& path);
  static void removeSyncDirectorySetting();
};

}  // namespace zelto
