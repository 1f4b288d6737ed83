// Env: the process's platform services, in one place.
//
// Code that has no owner to hand it a service (class operations, shared instances) takes it
// from here: the clock, the file system, the user's directories, the running bundle, the
// standard user defaults and the default notification centre. The real services are made on
// first use and live until the process ends.
//
// Tests replace any of them for a scope with Env::ScopedOverride; overrides nest and are
// restored on destruction. Install them before starting threads that use Env.
//
// Thread safety: the accessors may be called from any thread.
#pragma once

#include <optional>

#include "Platform/BundleInfo.h"

namespace zelto {

class Clock;
class Directories;
class FileSystem;
class NotificationCenter;
class UserDefaults;

class Env {
 public:
  static Clock& clock();
  static FileSystem& fileSystem();
  static Directories& directories();
  // The running process's bundle (BundleInfo::current) unless overridden.
  static BundleInfo mainBundle();
  static UserDefaults& standardUserDefaults();
  static NotificationCenter& notificationCenter();

  // What a test replaces; members left empty keep the service in force.
  struct Services {
    Clock* clock = nullptr;
    FileSystem* fileSystem = nullptr;
    Directories* directories = nullptr;
    std::optional<BundleInfo> mainBundle = std::nullopt;
    UserDefaults* standardUserDefaults = nullptr;
    NotificationCenter* notificationCenter = nullptr;
  };

  class ScopedOverride {
   public:
    explicit ScopedOverride(Services services);
    ~ScopedOverride();
    ScopedOverride(const ScopedOverride&) = delete;
    ScopedOverride& operator=(const ScopedOverride&) = delete;

   private:
    Services previous_;
  };
};

}  // namespace zelto
