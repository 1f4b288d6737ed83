#include "App/Controller/Helpers/Sync/SyncManager.h"

#include "Platform/Log.h"
#include "Platform/UserDefaults.h"

namespace zelto {

namespace {
constexpr const char* kConfigurationDirKey = "ConfigurationDir";
}

std::optional<std::string> SyncManager::getConfiguredSyncDirectory() {
  auto directory = UserDefaults::standard().stringForKey(kConfigurationDirKey);
  if (!directory || directory->empty()) return std::nullopt;
  return directory;
}

void SyncManager::setConfiguredSyncDirectory(const std::string& path) {
  UserDefaults& defaults = UserDefaults::standard();
  defaults.setObject(path, kConfigurationDirKey);
  if (!defaults.synchronize()) {
    log::error("Error while synchronizing settings after setting configuration sync dir");
  }
}

void SyncManager::removeSyncDirectorySetting() {
  UserDefaults& defaults = UserDefaults::standard();
  defaults.removeObjectForKey(kConfigurationDirKey);
  if (!defaults.synchronize()) {
    log::error("Error while synchronizing settings after removing configuration sync dir");
  }
}

}  // namespace zelto
