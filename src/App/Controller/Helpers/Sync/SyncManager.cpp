#include "App/Controller/Helpers/Sync/SyncManager.h"

#include "Platform/Log.h"
#include "Platform/UserDefaults.h"

namespace zelto {

namespace {
constexpr const char* kConfigurationDirKey = "ConfigurationDir";
}

std::optional<std::string> SyncManager::getConfiguredSyncDirectory() {
  // The agent's setting in every program (with its unsaved change, in the agent itself); never
  // the main application's, which the agent's suite would otherwise find.
  const nlohmann::json values = UserDefaults::standard().persistentDomainForName(kSettingDomain);
  const auto found = values.find(kConfigurationDirKey);
  if (found == values.end() || !found->is_string() || found->get<std::string>().empty()) {
    return std::nullopt;
  }
  return found->get<std::string>();
}

void SyncManager::setConfiguredSyncDirectory(const std::string& path) {
  UserDefaults& defaults = UserDefaults::standard();
  defaults.setObject(path, kConfigurationDirKey);
  if (!defaults.synchronize().ok()) {
    log::error("Error while synchronizing settings after setting configuration sync dir");
  }
}

void SyncManager::removeSyncDirectorySetting() {
  UserDefaults& defaults = UserDefaults::standard();
  defaults.removeObjectForKey(kConfigurationDirKey);
  if (!defaults.synchronize().ok()) {
    log::error("Error while synchronizing settings after removing configuration sync dir");
  }
}

}  // namespace zelto
