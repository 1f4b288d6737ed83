#include <gtest/gtest.h>

#include "Platform/Env.h"
#include "Platform/FileSystem.h"
#include "Platform/NotificationCenter.h"
#include "Support/FakeClock.h"

namespace zelto {
namespace {

TEST(EnvTest, ScopedOverridesNestAndRestoreWhatWasInForce) {
  Clock* realClock = &Env::clock();
  FileSystem* realFileSystem = &Env::fileSystem();
  FakeClock outerClock, innerClock;
  LocalFileSystem innerFileSystem;
  NotificationCenter center;
  BundleInfo bundle;
  bundle.bundleIdentifier = "org.example.test";
  {
    Env::ScopedOverride outer(
        Env::Services{.clock = &outerClock, .mainBundle = bundle, .notificationCenter = &center});
    EXPECT_EQ(&Env::clock(), &outerClock);
    EXPECT_EQ(&Env::fileSystem(), realFileSystem);
    {
      // Only what the inner override names changes; the rest stays the outer one's.
      Env::ScopedOverride inner(Env::Services{
          .clock = &innerClock, .fileSystem = &innerFileSystem, .mainBundle = std::nullopt});
      EXPECT_EQ(&Env::clock(), &innerClock);
      EXPECT_EQ(&Env::fileSystem(), &innerFileSystem);
      EXPECT_EQ(Env::mainBundle().bundleIdentifier, "org.example.test");
      EXPECT_EQ(&NotificationCenter::defaultCenter(), &center);
    }
    EXPECT_EQ(&Env::clock(), &outerClock);
    EXPECT_EQ(&Env::fileSystem(), realFileSystem);
  }
  EXPECT_EQ(&Env::clock(), realClock);
  EXPECT_NE(&Env::notificationCenter(), &center);
  EXPECT_NE(Env::mainBundle().bundleIdentifier, "org.example.test");
}

}  // namespace
}  // namespace zelto
