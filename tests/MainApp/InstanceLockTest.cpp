#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "MainApp/InstanceLock.h"
#include "Platform/Directories.h"
#include "Platform/FileLock.h"
#include "Platform/FileSystem.h"
#include "Platform/Linux/FileDescriptor.h"
#include "Support/TempDir.h"

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

TEST(InstanceLockTest, AnotherProcessHoldingTheLockKeepsThisOneOut) {
  TempDir dir;
  const std::string path = dir / "zelto.lock";
  int ready[2], release[2];
  ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
  FileDescriptor readyRead(ready[0]), readyWrite(ready[1]);
  ASSERT_EQ(::pipe2(release, O_CLOEXEC), 0);
  FileDescriptor releaseRead(release[0]), releaseWrite(release[1]);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    releaseWrite.reset();  // so that the parent's close is the end of the pipe
    Result<InstanceLock> lock = InstanceLock::acquireAt(path);
    char byte = lock.ok() && lock->outcome() == Outcome::kAcquired ? 'y' : 'n';
    (void)readyWrite.write(&byte, 1);
    (void)releaseRead.read(&byte, 1);  // until the parent closes its end
    ::_exit(0);
  }
  readyWrite.reset();
  releaseRead.reset();
  char byte = 0;
  Result<size_t> got = readyRead.read(&byte, 1);
  ASSERT_TRUE(got.ok() && *got == 1);
  EXPECT_EQ(byte, 'y');
  EXPECT_EQ(outcomeAt(path), Outcome::kHeldByAnother);
  releaseWrite.reset();
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(outcomeAt(path), Outcome::kAcquired);
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
  Result<std::string> path = InstanceLock::lockPath(directories, fs);
  ASSERT_TRUE(path.ok()) << path.status().message();
  EXPECT_EQ(*path, home / "run/zelto.lock");
  EXPECT_EQ(outcomeAt(*path), Outcome::kAcquired);
}

}  // namespace
}  // namespace zelto
