#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <future>

#include "Platform/FileSystem.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

class LocalFileSystemTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  LocalFileSystem fs;
};

TEST_F(LocalFileSystemTest, WriteAtomicallyReplacesTheFileAndKeepsItsPermissions) {
  std::string file = dir / "settings";
  ASSERT_TRUE(fs.writeFileAtomically(file, std::string(100'000, 'x')));
  EXPECT_EQ(fs.status(file)->permissions, 0600u);  // a new file's default mode
  // Binary contents, a NUL included, and longer than one read buffer.
  std::string contents = std::string("a\0b", 3) + std::string(70'000, 'y');
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  ASSERT_TRUE(fs.writeFileAtomically(file, contents, nullptr, 0644));
  EXPECT_EQ(fs.readFile(file), contents);
  EXPECT_EQ(fs.status(file)->permissions, 0640u);  // the existing file's mode, not the new one
  ASSERT_TRUE(fs.writeFileAtomically(dir / "public", "x", nullptr, 0644));
  EXPECT_EQ(fs.status(dir / "public")->permissions, 0644u);
  EXPECT_THAT(*fs.listDirectory(dir.path()), UnorderedElementsAre("settings", "public"));
}

TEST_F(LocalFileSystemTest, FailedWriteReportsAndLeavesNothingBehind) {
  dir.write("plain", "keep");
  ASSERT_TRUE(fs.createDirectories(dir / "occupied"));
  std::string error;
  EXPECT_FALSE(fs.writeFileAtomically(dir / "plain/child", "x", &error));  // parent is a file
  EXPECT_THAT(error, HasSubstr("plain/child"));
  // The temporary file is written, but can't replace a directory: it must be removed again.
  EXPECT_FALSE(fs.writeFileAtomically(dir / "occupied", "x", &error));
  EXPECT_THAT(error, HasSubstr("occupied"));
  EXPECT_THAT(*fs.listDirectory(dir.path()), UnorderedElementsAre("plain", "occupied"));
  EXPECT_THAT(*fs.listDirectory(dir / "occupied"), ElementsAre());
  EXPECT_EQ(fs.readFile(dir / "plain"), "keep");
}

TEST_F(LocalFileSystemTest, ReadFileRefusesAnythingButARegularFileWithoutBlocking) {
  std::string error;
  EXPECT_EQ(fs.readFile(dir / "absent", &error), std::nullopt);
  EXPECT_THAT(error, HasSubstr("absent"));
  EXPECT_EQ(fs.readFile(dir.path()), std::nullopt);

  std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto read = std::async(std::launch::async, [&] { return fs.readFile(fifo); });
  if (read.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // a writer comes and goes: EOF
    ADD_FAILURE() << "readFile blocked on a FIFO";
  }
  EXPECT_EQ(read.get(), std::nullopt);
}

TEST_F(LocalFileSystemTest, CreateDirectories) {
  ASSERT_TRUE(fs.createDirectories(dir / "a/b/c"));
  EXPECT_TRUE(fs.isDirectory(dir / "a/b/c"));
  EXPECT_TRUE(fs.createDirectories(dir / "a/b/"));  // already there

  dir.write("file", "x");
  std::string error;
  EXPECT_FALSE(fs.createDirectories(dir / "file", &error));
  EXPECT_THAT(error, HasSubstr("file"));
  EXPECT_FALSE(fs.createDirectories(dir / "file/below"));
  EXPECT_TRUE(fs.isRegularFile(dir / "file"));
}

TEST_F(LocalFileSystemTest, UTF8Checks) {
  dir.write("bad", "ok \xff");
  std::string error;
  EXPECT_EQ(fs.readUTF8File(dir / "bad", &error), std::nullopt);
  EXPECT_THAT(error, HasSubstr("UTF-8"));
  EXPECT_TRUE(isValidUTF8(std::string("Grüße \0 🎉", 14)));
  EXPECT_TRUE(isValidUTF8("\xf4\x8f\xbf\xbf"));   // U+10FFFF
  EXPECT_FALSE(isValidUTF8("\xc0\xaf"));          // overlong "/"
  EXPECT_FALSE(isValidUTF8("\xe2\x82"));          // cut short
  EXPECT_FALSE(isValidUTF8("\xed\xa0\x80"));      // a surrogate
  EXPECT_FALSE(isValidUTF8("\xf4\x90\x80\x80"));  // beyond U+10FFFF
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
