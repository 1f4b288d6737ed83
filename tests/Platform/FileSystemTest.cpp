#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "Platform/FileSystem.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::TempDir;
using ::testing::UnorderedElementsAre;

class LocalFileSystemTest : public ::testing::Test {
 protected:
  std::vector<std::string> entries(const std::string& directory) {
    return fs.listDirectory(directory).value_or(std::vector<std::string>{"<unlistable>"});
  }

  TempDir dir;
  LocalFileSystem fs;
};

TEST_F(LocalFileSystemTest, WriteAtomicallyReplacesTheWholeFileAndLeavesNoTemporaryFile) {
  std::string file = dir / "settings";
  ASSERT_TRUE(fs.writeFileAtomically(file, std::string(100'000, 'x')));
  // Binary contents, a NUL included, and longer than one read buffer.
  std::string contents = std::string("a\0b", 3) + std::string(70'000, 'y');
  ASSERT_TRUE(fs.writeFileAtomically(file, contents));
  EXPECT_EQ(fs.readFile(file), contents);
  ASSERT_TRUE(fs.writeFileAtomically(file, ""));
  EXPECT_EQ(fs.readFile(file), "");
  EXPECT_THAT(entries(dir.path()), ElementsAre("settings"));
}

TEST_F(LocalFileSystemTest, WriteAtomicallyKeepsPermissionsOfAnExistingFile) {
  std::string file = dir / "shared";
  ASSERT_TRUE(fs.writeFileAtomically(file, "one", nullptr, 0644));
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  ASSERT_TRUE(fs.writeFileAtomically(file, "two"));  // default new-file mode 0600 must not apply
  EXPECT_EQ(fs.status(file)->permissions, 0640u);
}

TEST_F(LocalFileSystemTest, WriteAtomicallyGivesANewFileTheRequestedMode) {
  ASSERT_TRUE(fs.writeFileAtomically(dir / "private", "x"));
  EXPECT_EQ(fs.status(dir / "private")->permissions, 0600u);
  ASSERT_TRUE(fs.writeFileAtomically(dir / "public", "x", nullptr, 0644));
  EXPECT_EQ(fs.status(dir / "public")->permissions, 0644u);
}

TEST_F(LocalFileSystemTest, FailedWriteReportsAndLeavesNothingBehind) {
  ASSERT_TRUE(fs.writeFileAtomically(dir / "plain", "keep"));
  ASSERT_TRUE(fs.createDirectories(dir / "occupied"));
  std::string error;

  // The parent is a regular file.
  EXPECT_FALSE(fs.writeFileAtomically(dir / "plain/child", "x", &error));
  EXPECT_THAT(error, HasSubstr("plain/child"));
  // The parent is missing.
  error.clear();
  EXPECT_FALSE(fs.writeFileAtomically(dir / "missing/child", "x", &error));
  EXPECT_FALSE(error.empty());
  // The temporary file is written, but can't replace a directory: it must be removed again.
  error.clear();
  EXPECT_FALSE(fs.writeFileAtomically(dir / "occupied", "x", &error));
  EXPECT_THAT(error, HasSubstr("occupied"));
  EXPECT_FALSE(fs.writeFileAtomically("", "x"));

  EXPECT_THAT(entries(dir.path()), UnorderedElementsAre("plain", "occupied"));
  EXPECT_THAT(entries(dir / "occupied"), ElementsAre());
  EXPECT_EQ(fs.readFile(dir / "plain"), "keep");
}

TEST_F(LocalFileSystemTest, ReadFileRefusesMissingFilesAndDirectories) {
  std::string error;
  EXPECT_EQ(fs.readFile(dir / "absent", &error), std::nullopt);
  EXPECT_THAT(error, HasSubstr("absent"));
  error.clear();
  EXPECT_EQ(fs.readFile(dir.path(), &error), std::nullopt);
  EXPECT_FALSE(error.empty());
}

TEST_F(LocalFileSystemTest, ReadFileRefusesAFifoWithoutBlocking) {
  std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto result = std::make_shared<std::promise<std::optional<std::string>>>();
  auto done = result->get_future();
  std::thread([this, fifo, result] { result->set_value(fs.readFile(fifo)); }).detach();
  if (done.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    // Give the blocked reader a writer so that its thread can finish.
    int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
    done.wait();
    FAIL() << "readFile blocked on a FIFO";
  }
  EXPECT_EQ(done.get(), std::nullopt);
}

TEST_F(LocalFileSystemTest, CreateDirectoriesMakesParentsAndAcceptsExistingOnes) {
  std::string deep = dir / "a/b/c";
  ASSERT_TRUE(fs.createDirectories(deep));
  EXPECT_TRUE(fs.isDirectory(deep));
  EXPECT_TRUE(fs.createDirectories(deep));
  EXPECT_TRUE(fs.createDirectories(dir / "a/b/"));
  EXPECT_TRUE(fs.createDirectories(dir / "a//d"));
  EXPECT_TRUE(fs.isDirectory(dir / "a/d"));
}

TEST_F(LocalFileSystemTest, CreateDirectoriesFailsWhenAFileStandsInTheWay) {
  ASSERT_TRUE(fs.writeFileAtomically(dir / "file", "x"));
  std::string error;
  EXPECT_FALSE(fs.createDirectories(dir / "file", &error));
  EXPECT_THAT(error, HasSubstr("file"));
  EXPECT_FALSE(fs.createDirectories(dir / "file/below"));
  EXPECT_FALSE(fs.createDirectories(""));
  EXPECT_TRUE(fs.isRegularFile(dir / "file"));
}

TEST_F(LocalFileSystemTest, AppendToFileCreatesThenAppends) {
  std::string log = dir / "log";
  ASSERT_TRUE(fs.appendToFile(log, "first\n"));
  ASSERT_TRUE(fs.appendToFile(log, "second\n"));
  EXPECT_EQ(fs.readFile(log), "first\nsecond\n");
  EXPECT_FALSE(fs.appendToFile(dir.path(), "x"));
  EXPECT_FALSE(fs.appendToFile(dir / "missing/log", "x"));
}

TEST_F(LocalFileSystemTest, ReadUTF8FileChecksTheEncoding) {
  ASSERT_TRUE(fs.writeFileAtomically(dir / "empty", ""));
  EXPECT_EQ(fs.readUTF8File(dir / "empty"), "");
  ASSERT_TRUE(fs.writeFileAtomically(dir / "good", "Grüße, 日本 🎉"));
  EXPECT_EQ(fs.readUTF8File(dir / "good"), "Grüße, 日本 🎉");
  ASSERT_TRUE(fs.writeFileAtomically(dir / "bad", "ok \xff"));
  std::string error;
  EXPECT_EQ(fs.readUTF8File(dir / "bad", &error), std::nullopt);
  EXPECT_THAT(error, HasSubstr("UTF-8"));
  EXPECT_EQ(fs.readUTF8File(dir / "absent"), std::nullopt);
}

TEST(UTF8Test, RejectsMalformedSequences) {
  EXPECT_TRUE(isValidUTF8(std::string("nul \0 inside", 12)));
  EXPECT_TRUE(isValidUTF8("\xf4\x8f\xbf\xbf"));   // U+10FFFF
  EXPECT_FALSE(isValidUTF8("\xc0\xaf"));          // overlong "/"
  EXPECT_FALSE(isValidUTF8("\xe2\x82"));          // cut short
  EXPECT_FALSE(isValidUTF8("\xed\xa0\x80"));      // a surrogate
  EXPECT_FALSE(isValidUTF8("\xf4\x90\x80\x80"));  // beyond U+10FFFF
  EXPECT_FALSE(isValidUTF8("\x80"));              // a lone continuation byte
}

TEST(PathTest, AppendingComponentPutsExactlyOneSlash) {
  EXPECT_EQ(path::appendingComponent("/a", "b"), "/a/b");
  EXPECT_EQ(path::appendingComponent("/a/", "b"), "/a/b");
  EXPECT_EQ(path::appendingComponent("/a", "/b"), "/a/b");
  EXPECT_EQ(path::appendingComponent("/a/", "//b"), "/a/b");
  EXPECT_EQ(path::appendingComponent("/", "b"), "/b");
  EXPECT_EQ(path::appendingComponent("", "b"), "b");
}

TEST(PathTest, DeletingAndTakingTheLastComponent) {
  struct Case {
    std::string path, parent, last;
  };
  for (const Case& c : std::vector<Case>{{"/a/b/c", "/a/b", "c"},
                                         {"/a/b/", "/a", "b"},
                                         {"/a", "/", "a"},
                                         {"/", "/", "/"},
                                         {"a", "", "a"},
                                         {"a/b", "a", "b"},
                                         {"", "", ""}}) {
    EXPECT_EQ(path::deletingLastComponent(c.path), c.parent) << c.path;
    EXPECT_EQ(path::lastComponent(c.path), c.last) << c.path;
  }
}

}  // namespace
}  // namespace zelto
