#include "App/Blocking/Helpers/ZeltoUtils.h"

#include "App/Controller/Helpers/Sync/SyncManager.h"
#include "Platform/Directories.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"
#include "Platform/Log.h"
#include "Platform/Workspace.h"

namespace zelto {

std::string ZeltoUtils::getZeltoTypeAsString(int32_t zeltoType) {
  switch (zeltoType) {
    case 0:
      return "normal";
    case 1:
      return "timer";
    case 2:
      return "schedule";
    default:
      return "unknown";
  }
}

std::optional<std::string> ZeltoUtils::getConfigurationPath(const std::string& configNamespace) {
  auto directory = getApplicationSupportDirectory();
  if (!directory) return std::nullopt;
  return path::appendingComponent(*directory, configNamespace + ".cfg");
}

std::optional<std::string> ZeltoUtils::getApplicationSupportDirectory() {
  if (auto configured = SyncManager::getConfiguredSyncDirectory()) return configured;
  Result<std::string> support = Env::directories().applicationSupportDirectory();
  if (!support.ok()) {
    log::error("Error while detecting user application support directory: {}",
               support.status().message());
    return std::nullopt;
  }
  return path::appendingComponent(*support, "Zelto");
}

Status ZeltoUtils::createApplicationSupportDirectoryIfNecessary() {
  return createDirectoryIfNecessary(getApplicationSupportDirectory());
}

Status ZeltoUtils::createDirectoryIfNecessary(const std::optional<std::string>& path) {
  FileSystem& fs = Env::fileSystem();
  if (path && fs.exists(*path)) return Status::success();
  // Without a path (the Application Support directory is unknown) there is nothing to create:
  // report it the way a failed creation is reported, so that callers give up cleanly.
  log::info("Directory doesn't exist...creating it at {}", path.value_or("(null)"));
  Status created =
      path ? fs.createDirectories(*path) : Status::failure("no directory path is known");
  if (!created.ok()) {
    log::error("Directory didn't exist and error while creating it: {}", created.message());
    return created;
  }
  log::info("Created directory");
  return Status::success();
}

bool ZeltoUtils::isApplicationRunning(Workspace& workspace, const std::string& bundleIdentifier) {
  for (const auto& application :
       workspace.runningApplicationsWithBundleIdentifier(bundleIdentifier)) {
    if (!application.isTerminated) return true;
  }
  return false;
}

bool ZeltoUtils::isApplicationRunningByAppPath(Workspace& workspace, const std::string& path) {
  for (const auto& application : workspace.runningApplications()) {
    if (application.bundlePath.starts_with(path) && !application.isTerminated) return true;
  }
  return false;
}

}  // namespace zelto
