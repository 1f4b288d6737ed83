#include <gtest/gtest.h>

#include <memory>

#include "Platform/Directories.h"
#include "Platform/Env.h"
#include "Platform/FakeClock.h"
#include "Platform/FileSystem.h"
#include "Platform/NotificationCenter.h"
#include "Platform/UserDefaults.h"

namespace zelto {
namespace {

TEST(EnvTest, ScopedOverridesNestAndRestoreWhatWasInForce) {
  Clock* realClock = &Env::clock();
  FileSystem* realFileSystem = &Env::fileSystem();
  NotificationCenter* realCenter = &Env::notificationCenter();
  ASSERT_EQ(dynamic_cast<FakeClock*>(realClock), nullptr);

  FakeClock outerClock, innerClock;
  LocalFileSystem innerFileSystem;
  NotificationCenter center;
  auto store = std::make_shared<InMemoryDefaultsStore>();
  UserDefaults defaults("test", store);
  BundleInfo bundle;
  bundle.bundleIdentifier = "org.example.test";
  {
    Env::Services outerServices;
    outerServices.clock = &outerClock;
    outerServices.mainBundle = bundle;
    outerServices.standardUserDefaults = &defaults;
    outerServices.notificationCenter = &center;
    Env::ScopedOverride outer(outerServices);
    EXPECT_EQ(&Env::clock(), &outerClock);
    EXPECT_EQ(&Env::fileSystem(), realFileSystem);
    EXPECT_EQ(Env::mainBundle().bundleIdentifier, "org.example.test");
    EXPECT_EQ(&UserDefaults::standard(), &defaults);
    EXPECT_EQ(&NotificationCenter::defaultCenter(), &center);
    {
      // Only what the inner override names changes; the rest stays the outer one's.
      Env::Services innerServices;
      innerServices.clock = &innerClock;
      innerServices.fileSystem = &innerFileSystem;
      Env::ScopedOverride inner(innerServices);
      EXPECT_EQ(&Env::clock(), &innerClock);
      EXPECT_EQ(&Env::fileSystem(), &innerFileSystem);
      EXPECT_EQ(Env::mainBundle().bundleIdentifier, "org.example.test");
      EXPECT_EQ(&Env::standardUserDefaults(), &defaults);
    }
    EXPECT_EQ(&Env::clock(), &outerClock);
    EXPECT_EQ(&Env::fileSystem(), realFileSystem);
    EXPECT_EQ(&Env::notificationCenter(), &center);
  }
  EXPECT_EQ(&Env::clock(), realClock);
  EXPECT_EQ(&Env::fileSystem(), realFileSystem);
  EXPECT_EQ(&Env::notificationCenter(), realCenter);
  EXPECT_NE(&Env::standardUserDefaults(), &defaults);
  EXPECT_NE(Env::mainBundle().bundleIdentifier, "org.example.test");
}

}  // namespace
}  // namespace zelto
