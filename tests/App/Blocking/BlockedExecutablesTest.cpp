#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "App/Blocking/BlockedExecutables.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

TEST(BlockedExecutablesTest, DesktopEntryProgramIsTheFirstWordPastEnv) {
  auto program = [](const std::string& exec) {
    return BlockedExecutables::desktopEntryProgram("[Other]\nExec=wrong\n[Desktop Entry]\n" + exec +
                                                   "\n");
  };
  EXPECT_EQ(program("Exec=firefox %u"), "firefox");
  EXPECT_EQ(program("Exec = \"/opt/My App/run\" --flag"), "/opt/My App/run");
  EXPECT_EQ(program("Exec=env GDK_BACKEND=x11 A=1 /usr/bin/app %F"), "/usr/bin/app");
  EXPECT_EQ(program("Exec=\"/a \\\"b\\\"\""), "/a \"b\"");
  EXPECT_EQ(program("Exec="), std::nullopt);
  EXPECT_EQ(program("Exec=env"), std::nullopt);
  EXPECT_EQ(BlockedExecutables::desktopEntryProgram("[Other]\nExec=x\n"), std::nullopt);
}

class BlockedExecutablesFilesTest : public ::testing::Test {
 protected:
  std::string executable(const std::string& relative, const std::string& text =
                                                          "\x7f"
                                                          "ELF") {
    std::string path = dir_.write(relative, text);
    ::chmod(path.c_str(), 0755);
    return path;
  }
  BlockedExecutables::Resolved resolve(const std::string& path) {
    return BlockedExecutables::resolve(path, fs_, "relative:" + dir_ / "bin");
  }

  testing::TempDir dir_;
  LocalFileSystem fs_;
};

TEST_F(BlockedExecutablesFilesTest, EachKindOfEntryGivesItsExecutablesAsTheKernelShowsThem) {
  const std::string real = executable("lib/app/app-bin");
  std::filesystem::create_directories(dir_ / "bin");
  std::filesystem::create_symlink(real, dir_ / "bin/app");
  EXPECT_THAT(resolve(dir_ / "bin/app").executables, ElementsAre(real));  // link resolved

  dir_.write("app.desktop", "[Desktop Entry]\nExec=app %U\n");  // found on the search path
  EXPECT_THAT(resolve(dir_ / "app.desktop").executables, ElementsAre(real));

  const std::string a = executable("Tool.app/Contents/MacOS/a");
  const std::string b = executable("Tool.app/Contents/MacOS/b");
  dir_.write("Tool.app/Contents/MacOS/readme", "not run");
  EXPECT_THAT(resolve(dir_ / "Tool.app").executables, ElementsAre(a, b));

  // A program of any size: a browser's is hundreds of megabytes.
  const std::string big = executable("bin/browser",
                                     "\x7f"
                                     "ELF" +
                                         std::string(3 << 20, 'x'));
  EXPECT_THAT(resolve(big).executables, ElementsAre(big));
}

TEST_F(BlockedExecutablesFilesTest, ScriptsAreTakenWithTheInterpreterTheirFirstLineNames) {
  const std::string shell = executable("bin/shell");
  struct Case {
    std::string firstLine;
    std::vector<std::string> interpreters;
  };
  for (const Case& c : std::vector<Case>{{"#!bin/relative", {}},
                                         {"#! /usr/bin/env -S A=1 shell -e", {shell}},
                                         {"#!", {}},
                                         {"#!" + shell + " -e", {shell}}}) {
    const std::string script = executable("bin/wrapper", c.firstLine + "\nexec x\n");
    BlockedExecutables::Resolved resolved = resolve(script);
    EXPECT_THAT(resolved.executables, ElementsAre(script)) << c.firstLine;
    EXPECT_THAT(resolved.scripts, ElementsAre(script)) << c.firstLine;
    EXPECT_EQ(resolved.interpreters, c.interpreters) << c.firstLine;
    EXPECT_THAT(resolved.problems, IsEmpty()) << c.firstLine;
  }
  EXPECT_THAT(resolve(shell).scripts, IsEmpty());
}

TEST_F(BlockedExecutablesFilesTest, WhatCantBeToldApartIsNamedNotGuessed) {
  dir_.write("gone.desktop", "[Desktop Entry]\nExec=nowhere-to-be-found\n");
  EXPECT_THAT(resolve(dir_ / "gone.desktop").problems,
              ElementsAre(HasSubstr("not on the search path")));
  dir_.write("plain", "data");
  EXPECT_THAT(resolve(dir_ / "plain").problems, ElementsAre(HasSubstr("not an executable")));
  EXPECT_THAT(resolve(dir_ / "missing").problems, ElementsAre(HasSubstr("nothing stands")));
}

}  // namespace
}  // namespace zelto
