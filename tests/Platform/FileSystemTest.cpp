#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <future>

#include "Platform/FileSystem.h"
#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Linux/FileSystemCalls.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using ::testing::UnorderedElementsAre;

class LocalFileSystemTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  LocalFileSystem fs;
};

TEST_F(LocalFileSystemTest, WriteAtomicallyReplacesTheFileAndKeepsItsPermissions) {
  std::string file = dir / "settings";
  ASSERT_TRUE(fs.writeFileAtomically(file, std::string(100'000, 'x'), 0600).ok());
  EXPECT_EQ(fs.inspect(file)->permissions, 0600u);
  // Binary contents, a NUL included, and longer than one read buffer.
  std::string contents = std::string("a\0b", 3) + std::string(70'000, 'y');
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  auto before = fs.inspect(file).toOptional();
  auto written = fs.writeFileAtomicallyWithStatus(file, contents, 0644);
  ASSERT_TRUE(written.ok() && *written);
  // The status of the file written, as a later look finds it, and not the one it replaced.
  EXPECT_TRUE(isSameFileVersion(*written, fs.inspect(file).toOptional()));
  EXPECT_FALSE(isSameFileVersion(*written, before));
  EXPECT_EQ(fs.readFile(file, FileSystem::kMaxResourceBytes).valueOr(""), contents);
  EXPECT_EQ(fs.inspect(file)->permissions, 0640u);  // the existing file's mode, not the new one
  EXPECT_THAT(*fs.listDirectory(dir.path()), ElementsAre("settings"));  // no temporary file left
  // ... less what the new mode lacks: a private file opened up to others is private again.
  ASSERT_TRUE(fs.writeFileAtomically(file, "secret", FileSystem::kPrivateFileMode).ok());
  EXPECT_EQ(fs.inspect(file)->permissions, 0600u);
}

TEST_F(LocalFileSystemTest, FailedWriteReportsAndLeavesNothingBehind) {
  dir.write("plain", "keep");
  ASSERT_TRUE(fs.createDirectories(dir / "occupied").ok());
  Status written = fs.writeFileAtomically(dir / "plain/child", "x", 0600);  // parent is a file
  EXPECT_FALSE(written.ok());
  EXPECT_THAT(written.message(), HasSubstr("plain/child"));
  // The temporary file is written, but can't replace a directory: it must be removed again.
  written = fs.writeFileAtomically(dir / "occupied", "x", 0600);
  EXPECT_THAT(written.message(), StartsWith("Can't replace " + (dir / "occupied") + ": "));
  EXPECT_THAT(*fs.listDirectory(dir.path()), UnorderedElementsAre("plain", "occupied"));
  EXPECT_THAT(*fs.listDirectory(dir / "occupied"), ElementsAre());
  EXPECT_EQ(fs.readFile(dir / "plain", FileSystem::kMaxResourceBytes).valueOr(""), "keep");
}

// A save waits for the disk for its own file (the file, then the rename), never for a spare copy.
TEST_F(LocalFileSystemTest, OnlyFilesOfTheirOwnAreFlushedToDisk) {
  auto flushes = std::make_shared<int>(0);
  FileSystemCalls calls = FileSystemCalls::real();
  calls.fsync = [flushes](int fd) {
    ++*flushes;
    return ::fsync(fd);
  };
  LocalFileSystem counted(calls);
  ASSERT_TRUE(counted.writeFileAtomically(dir / "own", "1", 0600).ok());
  EXPECT_EQ(*flushes, 2);
  auto spare = counted.writeSpareCopy(dir / "spare", "2", 0600);
  ASSERT_TRUE(spare.ok() && spare->has_value());
  EXPECT_EQ(*flushes, 2);
  EXPECT_EQ(fs.readFile(dir / "spare", 10).valueOr(""), "2");
  EXPECT_THAT(*fs.listDirectory(dir.path()), UnorderedElementsAre("own", "spare"));
}

TEST_F(LocalFileSystemTest, WriteAtomicallyReplacesASymbolicLinkWithAPrivateFile) {
  for (uint32_t targetMode : {0640u, 0644u, 0755u}) {
    std::string target = dir.write("target", "theirs"), link = dir / "settings";
    ASSERT_EQ(::chmod(target.c_str(), targetMode), 0);
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_TRUE(fs.writeFileAtomically(link, "ours", FileSystem::kPrivateFileMode).ok());
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "the link is replaced, not followed";
    EXPECT_EQ(st.st_mode & 07777, 0600u) << std::oct << targetMode;
    EXPECT_EQ(fs.readFile(target, FileSystem::kMaxResourceBytes).valueOr(""), "theirs");
    EXPECT_EQ(fs.inspect(target)->permissions, targetMode);
    ASSERT_TRUE(fs.removeFile(link).ok() && fs.removeFile(target).ok());
  }
}

TEST_F(LocalFileSystemTest, InspectTellsNothingThereFromCannotLook) {
  dir.write("plain", "x");
  for (const std::string& absent : {dir / "absent", dir / "plain/below"}) {
    EXPECT_TRUE(fs.inspect(absent).status().isNotFound()) << absent;
  }
  std::string loop = dir / "loop";
  ASSERT_EQ(::symlink(loop.c_str(), loop.c_str()), 0);
  Status looped = fs.inspect(loop).status();
  EXPECT_THAT(looped.message(), StartsWith("Can't inspect " + loop + ": "));
  EXPECT_FALSE(looped.ok() || looped.isNotFound());
  EXPECT_FALSE(fs.exists(loop));

  FileSystemCalls calls = FileSystemCalls::real();
  calls.stat = [](const char*, struct stat*) {
    errno = EACCES;
    return -1;
  };
  Status denied = LocalFileSystem(calls).inspect(dir / "plain").status();
  EXPECT_EQ(denied.message(), "Can't inspect " + (dir / "plain") + ": Permission denied");
  EXPECT_TRUE(denied.isPermissionDenied());
}

TEST_F(LocalFileSystemTest, ReadFileRefusesAnythingButARegularFileWithoutBlocking) {
  auto absent = fs.readFile(dir / "absent", FileSystem::kMaxResourceBytes);
  ASSERT_FALSE(absent.ok());
  EXPECT_EQ(absent.status().message(),
            "Can't open " + (dir / "absent") + ": No such file or directory");
  EXPECT_EQ(fs.readFile(dir.path(), FileSystem::kMaxResourceBytes).status().message(),
            "Not a regular file: " + dir.path());

  std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto read = std::async(std::launch::async,
                         [&] { return fs.readFile(fifo, FileSystem::kMaxResourceBytes); });
  if (read.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    FileDescriptor(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // a writer comes and goes: EOF
    ADD_FAILURE() << "readFile blocked on a FIFO";
  }
  EXPECT_FALSE(read.get().ok());
}

// The bound holds by what is read, not by the size the file claims: a sparse file of 100 GiB
// is refused at once, and a file that claims nothing (as under /proc) is still cut off.
TEST_F(LocalFileSystemTest, ReadFileRefusesMoreThanTheBound) {
  std::string file = dir.write("ten", "0123456789");
  EXPECT_EQ(fs.readFile(file, 10).valueOr(""), "0123456789");
  EXPECT_EQ(fs.readFile(file, 9).status().message(), "Larger than 9 bytes: " + file);
  std::string sparse = dir.write("sparse", "");
  ASSERT_EQ(::truncate(sparse.c_str(), 100LL << 30), 0);
  EXPECT_EQ(fs.readFile(sparse, 1 << 20).status().message(),
            "Larger than 1048576 bytes: " + sparse);
  ASSERT_EQ(fs.inspect("/proc/self/status")->size, 0u);
  EXPECT_FALSE(fs.readFile("/proc/self/status", 10).ok());
  EXPECT_TRUE(fs.readFile("/proc/self/status", 1 << 20).ok());
}

TEST_F(LocalFileSystemTest, CreateDirectories) {
  ASSERT_TRUE(fs.createDirectories(dir / "a/b/c").ok());
  EXPECT_TRUE(fs.isDirectory(dir / "a/b/c"));
  EXPECT_TRUE(fs.createDirectories(dir / "a/b/").ok());  // already there

  dir.write("file", "x");
  EXPECT_EQ(fs.createDirectories(dir / "file").message(),
            "Can't create directory " + (dir / "file") + ": a file stands in the way");
  EXPECT_FALSE(fs.createDirectories(dir / "file/below").ok());
  EXPECT_TRUE(fs.isRegularFile(dir / "file"));
}

TEST_F(LocalFileSystemTest, AppendRemoveRenameAndListReportTheirPaths) {
  std::string log = dir / "log";
  ASSERT_TRUE(fs.appendToFile(log, "a\n").ok());
  ASSERT_TRUE(fs.appendToFile(log, "b\n").ok());
  EXPECT_EQ(fs.readFile(log, FileSystem::kMaxResourceBytes).valueOr(""), "a\nb\n");
  EXPECT_EQ(fs.inspect(log)->permissions, 0644u);
  ASSERT_TRUE(fs.renameFile(log, dir / "moved").ok());
  EXPECT_EQ(fs.renameFile(log, dir / "again").message(),
            "Can't move " + log + " to " + (dir / "again") + ": No such file or directory");
  ASSERT_TRUE(fs.removeFile(dir / "moved").ok());
  EXPECT_EQ(fs.removeFile(dir / "moved").message(),
            "Can't remove " + (dir / "moved") + ": No such file or directory");
  EXPECT_EQ(fs.appendToFile(dir / "none/log", "x").message(),
            "Can't open " + (dir / "none/log") + ": No such file or directory");
  EXPECT_EQ(fs.listDirectory(dir / "none").status().message(),
            "Can't list " + (dir / "none") + ": No such file or directory");
}

TEST_F(LocalFileSystemTest, UTF8Checks) {
  dir.write("bad", "ok \xff");
  EXPECT_EQ(fs.readUTF8File(dir / "bad", FileSystem::kMaxResourceBytes).status().message(),
            "The file " + (dir / "bad") + " is not valid UTF-8 text.");
  EXPECT_FALSE(fs.readUTF8File(dir / "absent", FileSystem::kMaxResourceBytes).ok());
  EXPECT_TRUE(isValidUTF8(std::string("Grüße \0 🎉", 14)));  // a NUL is text too
  EXPECT_FALSE(isValidUTF8("\xc0\xaf"));                    // overlong "/"
}

TEST(PathTest, ComponentsAtTheEdges) {
  EXPECT_EQ(path::appendingComponent("/a/", "//b"), "/a/b");
  EXPECT_EQ(path::appendingComponent("/", "b"), "/b");
  EXPECT_EQ(path::appendingComponent("", "b"), "b");
  for (const auto& [full, parent, last] : std::vector<std::array<std::string, 3>>{
           {"/a/b/", "/a", "b"}, {"/a", "/", "a"}, {"/", "/", "/"}, {"a", "", "a"}, {"", "", ""}}) {
    EXPECT_EQ(path::deletingLastComponent(full), parent) << full;
    EXPECT_EQ(path::lastComponent(full), last) << full;
  }
}

}  // namespace
}  // namespace zelto
