#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "MainApp/InstanceLock.h"
#include "Platform/Directories.h"
#include "Platform/FileLock.h"
#include "Platform/FileSystem.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

using ::testing::HasSubstr;
using testing::TempDir;
using Outcome = InstanceLock::Outcome;

TEST(InstanceLockTest, ASecondHolderIsKeptOutUntilTheFirstLetsGo) {
  TempDir dir;
  const std::string path = dir / "zelto.lock";
  {
    InstanceLock first = InstanceLock::acquireAt(path);
    ASSERT_EQ(first.outcome(), Outcome::kAcquired) << first.error();
    EXPECT_EQ(InstanceLock::acquireAt(path).outcome(), Outcome::kHeldByAnother);
  }
  EXPECT_EQ(InstanceLock::acquireAt(path).outcome(), Outcome::kAcquired);

  InstanceLock failed = InstanceLock::acquireAt(dir / "missing/zelto.lock");
  EXPECT_EQ(failed.outcome(), Outcome::kFailed);
  EXPECT_THAT(failed.error(), HasSubstr("missing/zelto.lock"));
}

// A lock held by a program that isn't this one (its holder not recorded, or recorded as a
// process running another executable) keeps nothing out; the instance that runs anyway records
// itself, and keeps the next one out.
TEST(InstanceLockTest, ALockHeldByAnotherProgramKeepsNothingOut) {
  TempDir dir;
  const std::string path = dir / "zelto.lock";
  auto stranger = FileLock::tryAcquire(path);
  ASSERT_TRUE(stranger.ok() && stranger->has_value());
  for (const char* record : {"", "1\n", "not a number"}) {
    dir.write("zelto.lock.pid", record);
    EXPECT_EQ(InstanceLock::acquireAt(path).outcome(), Outcome::kHeldByStranger) << record;
  }
  EXPECT_EQ(InstanceLock::acquireAt(path).outcome(), Outcome::kHeldByAnother);
}

TEST(InstanceLockTest, AnotherProcessHoldingTheLockKeepsThisOneOut) {
  TempDir dir;
  const std::string path = dir / "zelto.lock";
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(release[1]);  // so that the parent's close is the end of the pipe
    InstanceLock lock = InstanceLock::acquireAt(path);
    char byte = lock.outcome() == Outcome::kAcquired ? 'y' : 'n';
    (void)!::write(ready[1], &byte, 1);
    (void)!::read(release[0], &byte, 1);  // until the parent closes its end
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  EXPECT_EQ(byte, 'y');
  EXPECT_EQ(InstanceLock::acquireAt(path).outcome(), Outcome::kHeldByAnother);
  ::close(release[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::close(ready[0]);
  EXPECT_EQ(InstanceLock::acquireAt(path).outcome(), Outcome::kAcquired);
}

TEST(InstanceLockTest, TheLockLivesInTheRuntimeFolderElseInTheUsersCaches) {
  TempDir home;
  LocalFileSystem fs;
  std::map<std::string, std::string> variables{{"HOME", home.path()}};
  Directories directories(
      fs,
      [&](const std::string& name) -> std::optional<std::string> {
        auto it = variables.find(name);
        if (it == variables.end()) return std::nullopt;
        return it->second;
      },
      [] { return std::nullopt; });

  EXPECT_EQ(*InstanceLock::lockPath(directories, fs), home / ".cache/Zelto/zelto.lock");
  EXPECT_TRUE(fs.isDirectory(home / ".cache/Zelto"));
  variables["XDG_RUNTIME_DIR"] = home / "run";  // not there: not used
  EXPECT_EQ(*InstanceLock::lockPath(directories, fs), home / ".cache/Zelto/zelto.lock");
  ASSERT_TRUE(fs.createDirectories(home / "run").ok());
  InstanceLock lock = InstanceLock::acquire(directories, fs);
  EXPECT_EQ(lock.outcome(), Outcome::kAcquired) << lock.error();
  EXPECT_EQ(lock.path(), home / "run/zelto.lock");
}

}  // namespace
}  // namespace zelto
