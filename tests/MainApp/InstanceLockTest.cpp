#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "MainApp/InstanceLock.h"
#include "Platform/FileLock.h"
#include "Platform/FileSystem.h"
#include "Support/TestEnv.h"

namespace zelto {
namespace {

using ::testing::HasSubstr;
using testing::TempDir;
using Outcome = InstanceLock::Outcome;

// The outcome of taking the lock at `path`; the test fails when taking it fails.
Outcome outcomeAt(const std::string& path) {
  Result<InstanceLock> lock = InstanceLock::acquireAt(path);
  EXPECT_TRUE(lock.ok()) << lock.status().message();
  return lock.ok() ? lock->outcome() : Outcome::kHeldByStranger;
}

TEST(InstanceLockTest, ASecondHolderIsKeptOutUntilTheFirstLetsGo) {
  TempDir dir;
  const std::string path = dir / "zelto.lock";
  {
    Result<InstanceLock> first = InstanceLock::acquireAt(path);
    ASSERT_TRUE(first.ok()) << first.status().message();
    ASSERT_EQ(first->outcome(), Outcome::kAcquired);
    EXPECT_EQ(outcomeAt(path), Outcome::kHeldByAnother);
  }
  EXPECT_EQ(outcomeAt(path), Outcome::kAcquired);

  Result<InstanceLock> failed = InstanceLock::acquireAt(dir / "missing/zelto.lock");
  EXPECT_TRUE(failed.status().isNotFound());
  EXPECT_THAT(failed.status().message(), HasSubstr("missing/zelto.lock"));
}

// A lock held by a program that isn't this one (its holder not recorded, or recorded as a
// process running another executable) keeps nothing out; the instance that runs anyway records
// itself, and keeps the next one out.
TEST(InstanceLockTest, ALockHeldByAnotherProgramKeepsNothingOut) {
  TempDir dir;
  const std::string path = dir / "zelto.lock";
  auto stranger = FileLock::tryAcquire(path);
  ASSERT_TRUE(stranger.ok());
  EXPECT_TRUE(FileLock::tryAcquire(path).status().isBusy());
  for (const char* record : {"", "1\n", "not a number"}) {
    dir.write("zelto.lock.pid", record);
    EXPECT_EQ(outcomeAt(path), Outcome::kHeldByStranger) << record;
  }
  EXPECT_EQ(outcomeAt(path), Outcome::kHeldByAnother);
}

TEST(InstanceLockTest, TheLockLivesInTheRuntimeFolderElseInTheUsersCaches) {
  testing::TestEnv env;
  const TempDir& home = env.temp();
  LocalFileSystem& fs = env.fs();
  EXPECT_EQ(*InstanceLock::lockPath(env.directories(), fs), home / ".cache/Zelto/zelto.lock");
  EXPECT_TRUE(fs.isDirectory(home / ".cache/Zelto"));
  env.setVariable("XDG_RUNTIME_DIR", home / "run");  // not there: not used
  EXPECT_EQ(*InstanceLock::lockPath(env.directories(), fs), home / ".cache/Zelto/zelto.lock");
  ASSERT_TRUE(fs.createDirectories(home / "run").ok());
  Result<std::string> path = InstanceLock::lockPath(env.directories(), fs);
  ASSERT_TRUE(path.ok()) << path.status().message();
  EXPECT_EQ(*path, home / "run/zelto.lock");
  EXPECT_EQ(outcomeAt(*path), Outcome::kAcquired);
}

}  // namespace
}  // namespace zelto
