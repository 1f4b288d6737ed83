#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "Platform/Digest.h"
#include "Platform/Linux/LinuxProcessTable.h"
#include "Support/SleepingChild.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

namespace fs = std::filesystem;
using testing::eventually;
using testing::readWholeFile;
using testing::SleepingChild;
using testing::TempDir;

std::optional<ProcessTable::Entry> find(LinuxProcessTable& table, pid_t pid) {
  for (auto& entry : table.processesOfCurrentUser()) {
    if (entry.pid == pid) return entry;
  }
  return std::nullopt;
}

// The fields of /proc/PID/stat after the command's name: state, parent, group, session...
std::vector<std::string> statFields(pid_t pid) {
  std::string stat = readWholeFile("/proc/" + std::to_string(pid) + "/stat");
  std::vector<std::string> fields;
  const size_t end = stat.rfind(") ");
  if (end == std::string::npos) return fields;  // gone meanwhile
  std::istringstream rest(stat.substr(end + 2));
  for (std::string field; rest >> field;) fields.push_back(field);
  return fields;
}

// Whether any child of this process is left a zombie.
bool hasZombieChild() {
  const std::string self = std::to_string(::getpid());
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (!std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    auto fields = statFields(std::stoi(name));
    if (fields.size() > 1 && fields[0] == "Z" && fields[1] == self) return true;
  }
  return false;
}

TEST(LinuxProcessTableTest, ListsAndPinsTheUsersProcessesEvenWhenTheirFileIsReplaced) {
  TempDir temp;
  LinuxProcessTable table;
  const std::string path = fs::canonical(temp.path()).string() + "/listed";
  SleepingChild::copyProgram(path);
  SleepingChild child(path);

  auto listed = find(table, child.pid());
  ASSERT_TRUE(listed);
  EXPECT_EQ(std::pair(listed->executable, listed->executableReplaced), std::pair(path, false));
  EXPECT_FALSE(find(table, 1)) << "process 1 is not the user's";
  EXPECT_FALSE(table.open(child.pid(), "/bin/true").ok());

  // The file itself is followed, removed or not: its inode, and its content through the process.
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  const std::string copy = temp / "copy";
  fs::copy_file(path, copy);
  fs::remove(path);
  listed = find(table, child.pid());
  ASSERT_TRUE(listed && listed->file);
  EXPECT_EQ(std::tuple(listed->executable, listed->executableReplaced, listed->file->fileNumber,
                       listed->file->size),
            std::tuple(path, true, before.st_ino, static_cast<uint64_t>(before.st_size)));
  auto digest = table.executableDigest(child.pid());
  ASSERT_TRUE(digest.ok()) << digest.status().message();
  EXPECT_EQ(*digest, *Digest::sha256HexOfFile(copy));
  EXPECT_EQ(*table.commandLine(child.pid()), (std::vector<std::string>{path, "1000"}));
  EXPECT_EQ(*table.workingDirectory(child.pid()), fs::current_path().string());

  auto process = table.open(child.pid(), path);
  ASSERT_TRUE(process.ok()) << process.status().message();
  EXPECT_FALSE((*process)->hasEnded());
  ASSERT_TRUE((*process)->signal(SIGKILL).ok());
  ASSERT_TRUE(eventually([&] { return child.ended(); }));
  EXPECT_TRUE((*process)->hasEnded());
  EXPECT_TRUE((*process)->signal(SIGTERM).ok()) << "a process gone is nothing to signal";
  EXPECT_FALSE(table.open(child.pid(), path).ok());
}

TEST(LinuxProcessTableTest, LaunchesDetachedInASessionOfItsOwnLeavingNoZombie) {
  TempDir temp;
  LinuxProcessTable table;
  const std::string pidFile = temp / "pid";
  const std::string script =
      temp.write("launched", "#!/bin/sh\necho $$ > '" + pidFile + ".new'\nmv '" + pidFile +
                                 ".new' '" + pidFile + "'\nexec sleep 1000\n");
  fs::permissions(script, fs::perms::owner_all);

  ASSERT_TRUE(table.launchDetached(script).ok());
  ASSERT_TRUE(eventually([&] { return fs::exists(pidFile); }));
  const pid_t pid = std::stoi(readWholeFile(pidFile));
  auto fields = statFields(pid);
  ASSERT_GT(fields.size(), 3u);
  EXPECT_NE(fields[1], std::to_string(::getpid())) << "not our child";
  EXPECT_NE(fields[3], std::to_string(::getsid(0))) << "a session of its own";
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/fd/0").string(), "/dev/null");
  ::kill(pid, SIGKILL);
  EXPECT_FALSE(hasZombieChild());

  Status missing = table.launchDetached(temp / "missing");
  EXPECT_FALSE(missing.ok());
  EXPECT_NE(missing.message().find("No such file"), std::string::npos) << missing.message();
  EXPECT_FALSE(hasZombieChild());
}

// Known digests, and a file longer than one chunk read.
TEST(DigestTest, Sha256OfAFileReadsItWholeInChunks) {
  TempDir dir;
  EXPECT_EQ(*Digest::sha256HexOfFile(dir.write("empty", "")),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(*Digest::sha256HexOfFile(dir.write("abc", "abc")),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const std::string big = dir.write("big", std::string((3 << 20) + 1, 'a'));
  const std::string other = dir.write("other", std::string(3 << 20, 'a') + "b");
  EXPECT_NE(*Digest::sha256HexOfFile(big), *Digest::sha256HexOfFile(other));
  EXPECT_FALSE(Digest::sha256HexOfFile(dir / "missing").ok());
}

}  // namespace
}  // namespace zelto
