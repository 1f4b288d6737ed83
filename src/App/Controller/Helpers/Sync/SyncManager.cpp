#include "App/Controller/Helpers/Sync/SyncManager.h"

#include "Platform/Log.h"
#include "Platform/UserDefaults.h"

namespace zelto {

namespace {
constexpr const char* kConfigurationDirKey = "ConfigurationDir";
}

std::optional<std::string> SyncManager::getConfiguredSyncDirectory() {
  // Each program's own setting: the agent never takes the main application's (its suite is
  // searched for other keys), so it always uses the directory zeltoctl shows.
  auto directory = UserDefaults::standard().ownStringForKey(kConfigurationDirKey);
  if (!directory || directory->empty()) return std::nullopt;
  return directory;
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
