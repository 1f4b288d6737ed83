// SyncManager: the user's choice of another configuration directory ("ConfigurationDir").
//
// One folder for every program: the setting is the agent's ("Quarnix.zelto.agent", where
// zeltoctl writes it), and the agent, the application and zeltoctl all read it there; a setting
// of the same name in the application's own domain moves nothing (it would let a restart of the
// application read an empty folder while the agent keeps blocking on). The setters write the
// process's own domain, which is the agent's in the agent and in zeltoctl. A changed setting
// takes effect at the next path computation; files are not moved.
//
// Class operations only. Thread safety: any thread.
#pragma once

#include <optional>
#include <string>

#include "App/Data/BundleIdentifiers.h"

namespace zelto {

class SyncManager {
 public:
  // The domain the setting is read from, in every program.
  static constexpr const char* kSettingDomain = BundleIdentifiers::kAgent;

  // The directory stored under "ConfigurationDir", used as it stands; nothing when unset or "".
  static std::optional<std::string> getConfiguredSyncDirectory();
  static void setConfiguredSyncDirectory(const std::string& path);
  static void removeSyncDirectorySetting();
};

}  // namespace zelto
