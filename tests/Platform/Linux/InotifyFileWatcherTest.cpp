#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Linux/InotifyFileWatcher.h"
#include "Platform/Linux/InotifyReader.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Support/OpenDescriptors.h"
#include "Support/RunLoopUntil.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

namespace fs = std::filesystem;

void writeFile(const std::string& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary) << contents;
}

class InotifyFileWatcherTest : public ::testing::Test {
 protected:
  bool runUntil(const std::function<bool()>& done) { return testing::runLoopUntil(loop, done); }

  // Runs the loop until `calls` reaches `n`, then lets it handle what is still queued: whether
  // exactly `n` calls came.
  bool reachesExactly(const int& calls, int n) {
    return runUntil([&] { return calls >= n; }) && testing::runPosted(loop) && calls == n;
  }

  // Puts a new file at `path` the way an atomic save does: a temporary file, renamed over it.
  void replaceAtomically(const std::string& path, const std::string& contents) {
    std::string temporary = path + ".tmp";
    writeFile(temporary, contents);
    fs::rename(temporary, path);
  }

  UvRunLoop loop;
  InotifyFileWatcher watcher{loop};
  testing::TempDir dir;
};

TEST_F(InotifyFileWatcherTest, ReplacementByRenameIsReportedAndTheNewFileStaysWatched) {
  std::string path = dir.write("prefs.cfg", "old");
  int calls = 0;
  auto watch = watcher.watch(path, [&] { ++calls; });

  FileDescriptor oldFile(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
  ASSERT_TRUE(oldFile.valid());
  replaceAtomically(path, "new");
  ASSERT_TRUE(reachesExactly(calls, 1)) << calls;

  // The replaced file is no longer at the path: writing it is no change of the path's file.
  ASSERT_EQ(::write(oldFile.get(), "stale", 5), 5);
  oldFile.reset();
  EXPECT_TRUE(reachesExactly(calls, 1)) << calls;

  writeFile(path, "newer");
  EXPECT_TRUE(reachesExactly(calls, 2)) << calls;
}

TEST_F(InotifyFileWatcherTest, DeletionAndReappearanceAfterAGapAreBothReported) {
  std::string path = dir.write("prefs.cfg", "1");
  int calls = 0;
  auto watch = watcher.watch(path, [&] { ++calls; });

  fs::remove(path);
  ASSERT_TRUE(reachesExactly(calls, 1)) << calls;

  std::string staged = dir.write("staging/prefs.cfg", "2");  // a different directory
  fs::rename(staged, path);
  ASSERT_TRUE(reachesExactly(calls, 2)) << calls;

  writeFile(path, "3");
  ASSERT_TRUE(runUntil([&] { return calls >= 3; }));
}

TEST_F(InotifyFileWatcherTest, AWatchOnAMissingFileReportsItsCreationThenOneCallbackPerWrite) {
  std::string path = dir / "prefs.cfg";
  int calls = 0;
  auto watch = watcher.watch(path, [&] { ++calls; });
  writeFile(path, "created");
  ASSERT_TRUE(runUntil([&] { return calls >= 1; }));
  ASSERT_TRUE(testing::runPosted(loop));
  // The creation, and perhaps the closing write as its own batch; from here on each write, a
  // truncation and many bytes, gives one callback.
  const int afterCreation = calls;
  for (int write = 1; write <= 3; ++write) {
    writeFile(path, std::string(1000 * write, 'x'));
    ASSERT_TRUE(runUntil([&] { return calls >= afterCreation + write; })) << "write " << write;
    EXPECT_EQ(calls, afterCreation + write);
  }
  EXPECT_TRUE(reachesExactly(calls, afterCreation + 3)) << calls;
}

// A file made readable again must be read at once, not at some later check.
TEST_F(InotifyFileWatcherTest, PermissionChangesOfTheFileAndOfItsFolderAreReported) {
  std::string folder = dir / "conf", path = dir.write("conf/prefs.cfg", "0");
  std::string neighbour = dir.write("conf/other", "0");
  int calls = 0;
  auto watch = watcher.watch(path, [&] { ++calls; });
  for (const auto& [target, mode] : std::vector<std::pair<std::string, mode_t>>{
           {path, 0}, {path, 0600}, {folder, 0}, {folder, 0700}}) {
    const int before = calls;
    ASSERT_EQ(::chmod(target.c_str(), mode), 0);
    EXPECT_TRUE(runUntil([&] { return calls > before; })) << target << " " << std::oct << mode;
  }
  ASSERT_TRUE(testing::runPosted(loop));
  const int before = calls;
  ASSERT_EQ(::chmod(neighbour.c_str(), 0), 0);
  ASSERT_TRUE(testing::runPosted(loop));
  EXPECT_EQ(calls, before);
}

TEST_F(InotifyFileWatcherTest, DestroyingTheHandleStopsCallbacksAndClosesItsDescriptor) {
  std::string path = dir.write("prefs.cfg", "0");
  const size_t before = testing::openDescriptors().size();
  int ended = 0, kept = 0;
  auto ending = watcher.watch(path, [&] { ++ended; });
  auto keeper = watcher.watch(path, [&] { ++kept; });
  EXPECT_EQ(testing::openDescriptors().size(), before + 2);  // one descriptor per watch

  ending.reset();
  EXPECT_EQ(testing::openDescriptors().size(), before + 1);
  writeFile(path, "1");
  ASSERT_TRUE(runUntil([&] { return kept >= 1; }));
  ASSERT_TRUE(testing::runPosted(loop));
  EXPECT_EQ(ended, 0);

  keeper.reset();
  EXPECT_EQ(testing::openDescriptors().size(), before);
}

struct Drained {
  Status status;
  std::vector<inotify_event> events;
  std::vector<std::string> names;
};

Drained drain(int fd) {
  Drained drained;
  drained.status = InotifyReader::drain(fd, [&](const inotify_event& event) {
    drained.events.push_back(event);
    drained.names.push_back(event.len > 0 ? event.name : "");
  });
  return drained;
}

class InotifyReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(inotify.valid()) << std::strerror(errno); }

  FileDescriptor inotify{::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)};
  testing::TempDir temp;
};

TEST_F(InotifyReaderTest, HandsOverEveryPendingEventInOrderThenFindsTheQueueEmpty) {
  ASSERT_GE(::inotify_add_watch(inotify.get(), temp.path().c_str(), IN_CREATE), 0);
  // More events than one read can take.
  std::vector<std::string> created;
  for (int i = 0; i < 600; ++i) {
    created.push_back("file-with-a-name-long-enough-to-fill-reads-" + std::to_string(i));
    temp.write(created.back(), "");
  }
  Drained first = drain(inotify.get());
  ASSERT_TRUE(first.status.ok()) << first.status.message();
  EXPECT_EQ(first.names, created);

  Drained second = drain(inotify.get());
  EXPECT_TRUE(second.status.ok()) << second.status.message();
  EXPECT_TRUE(second.events.empty());
}

TEST_F(InotifyReaderTest, ADescriptorThatGivesNoEventsFails) {
  Drained unopened = drain(-1);
  EXPECT_FALSE(unopened.status.ok());
  EXPECT_NE(unopened.status.message().find(std::strerror(EBADF)), std::string::npos);

  // A pipe stands in for a descriptor whose reads end, or end inside an event.
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
  FileDescriptor reader(ends[0]), writer(ends[1]);
  EXPECT_TRUE(drain(reader.get()).status.ok());  // nothing waiting yet
  ASSERT_EQ(::write(writer.get(), "abc", 3), 3);
  Drained cut = drain(reader.get());
  EXPECT_FALSE(cut.status.ok());
  EXPECT_TRUE(cut.events.empty());
  writer.reset();
  EXPECT_FALSE(drain(reader.get()).status.ok()) << "end of file";
}

}  // namespace
}  // namespace zelto
