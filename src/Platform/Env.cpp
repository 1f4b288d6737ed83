#include "Platform/Env.h"

#include <memory>
#include <mutex>

#include "Platform/Clock.h"
#include "Platform/DefaultsStore.h"
#include "Platform/Directories.h"
#include "Platform/FileSystem.h"
#include "Platform/NotificationCenter.h"
#include "Platform/UserDefaults.h"

namespace zelto {

namespace {

std::mutex overrideMutex;
Env::Services overrides;

Env::Services currentOverrides() {
  std::lock_guard<std::mutex> lock(overrideMutex);
  return overrides;
}

// The real services. Made once, on first use, and never destroyed: other threads may still use
// them while the process exits.
struct RealServices {
  SystemClock clock;
  LocalFileSystem fileSystem;
  Directories directories{fileSystem};
  NotificationCenter notificationCenter;
  std::unique_ptr<UserDefaults> standardUserDefaults;

  RealServices() {
    BundleInfo bundle = BundleInfo::current(fileSystem);
    std::string domain =
        bundle.bundleIdentifier.value_or(path::lastComponent(bundle.executablePath));
    if (!DefaultsStore::isValidDomainName(domain)) domain = "zelto";
    auto store = std::make_shared<PlistDefaultsStore>(
        fileSystem, [this] { return directories.preferencesDirectory(); });
    standardUserDefaults = std::make_unique<UserDefaults>(domain, store);
  }
};

RealServices& real() {
  static RealServices* services = new RealServices();
  return *services;
}

}  // namespace

Clock& Env::clock() {
  auto o = currentOverrides();
  return o.clock ? *o.clock : real().clock;
}

FileSystem& Env::fileSystem() {
  auto o = currentOverrides();
  return o.fileSystem ? *o.fileSystem : real().fileSystem;
}

Directories& Env::directories() {
  auto o = currentOverrides();
  return o.directories ? *o.directories : real().directories;
}

BundleInfo Env::mainBundle() {
  auto o = currentOverrides();
  if (o.mainBundle) return *o.mainBundle;
  return BundleInfo::current(fileSystem());
}

UserDefaults& Env::standardUserDefaults() {
  auto o = currentOverrides();
  return o.standardUserDefaults ? *o.standardUserDefaults : *real().standardUserDefaults;
}

NotificationCenter& Env::notificationCenter() {
  auto o = currentOverrides();
  return o.notificationCenter ? *o.notificationCenter : real().notificationCenter;
}

Env::ScopedOverride::ScopedOverride(Services services) {
  std::lock_guard<std::mutex> lock(overrideMutex);
  previous_ = overrides;
  if (services.clock) overrides.clock = services.clock;
  if (services.fileSystem) overrides.fileSystem = services.fileSystem;
  if (services.directories) overrides.directories = services.directories;
  if (services.mainBundle) overrides.mainBundle = services.mainBundle;
  if (services.standardUserDefaults) {
    overrides.standardUserDefaults = services.standardUserDefaults;
  }
  if (services.notificationCenter) overrides.notificationCenter = services.notificationCenter;
}

Env::ScopedOverride::~ScopedOverride() {
  std::lock_guard<std::mutex> lock(overrideMutex);
  overrides = previous_;
}

UserDefaults& UserDefaults::standard() { return Env::standardUserDefaults(); }

NotificationCenter& NotificationCenter::defaultCenter() { return Env::notificationCenter(); }

}  // namespace zelto
