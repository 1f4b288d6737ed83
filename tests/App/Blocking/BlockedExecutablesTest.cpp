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

// What zeltoctl takes and what the application ends are read by these rules alone.
TEST(BlockedExecutablesTest, DesktopEntryProgramIsTheFirstWordPastEnvAndNoLauncher) {
  struct Case {
    const char* exec;
    const char* program;  // nullptr: refused, with `reason`
    const char* reason;
  };
  for (const Case& c : std::vector<Case>{
           {"Exec=firefox %u", "firefox", ""},
           {"Exec = \"/opt/My App/run\" --flag", "/opt/My App/run", ""},
           {"Exec=env GDK_BACKEND=x11 A=1 /usr/bin/app %F", "/usr/bin/app", ""},
           {"Exec=env -u DISPLAY -i -- app", "app", ""},
           {"Exec=\"/a \\\"b\\\"\"", "/a \"b\"", ""},
           {"Exec=/opt/My\\sApp", "/opt/My", ""},  // "\s" is a blank: it ends the word
           {"Exec=\"/opt/My\\sApp\"", "/opt/My App", ""},
           {"Exec=\"/opt/a\\\\\\\\b\"", "/opt/a\\b", ""},  // four backslashes are one
           {"Exec=/opt/100%%", "/opt/100%", ""},
           {"Exec=", nullptr, "no program"},
           {"Exec=env", nullptr, "no program"},
           {"Name=x", nullptr, "no Exec= line"},
           {"Exec=flatpak run org.example.App", nullptr, "\"flatpak\", which starts other"},
           {"Exec=/bin/sh -c \"app --x\"", nullptr, "starts other programs"},
           {"Exec=env A=1 bash -c app", nullptr, "starts other programs"},
       }) {
    SCOPED_TRACE(c.exec);
    Result<std::string> program = BlockedExecutables::desktopEntryProgram(
        "[Other]\nExec=wrong\n[Desktop Entry]\n" + std::string(c.exec) + "\n");
    ASSERT_EQ(program.ok(), c.program != nullptr) << program.status().message();
    if (c.program != nullptr) {
      EXPECT_EQ(*program, c.program);
    } else {
      EXPECT_THAT(program.status().message(), HasSubstr(c.reason));
    }
  }
}

class BlockedExecutablesFilesTest : public ::testing::Test {
 protected:
  std::string executable(const std::string& relative, const std::string& text = "\177ELF") {
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
  const std::string big = executable("bin/browser", "\177ELF" + std::string(3 << 20, 'x'));
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
  dir_.write("wrapped.desktop", "[Desktop Entry]\nExec=flatpak run org.example.App\n");
  executable("bin/flatpak");
  EXPECT_THAT(resolve(dir_ / "wrapped.desktop").problems,
              ElementsAre(HasSubstr("starts other programs")));
  EXPECT_THAT(resolve(dir_ / "gone.desktop").problems,
              ElementsAre(HasSubstr("not on the search path")));
  dir_.write("plain", "data");
  EXPECT_THAT(resolve(dir_ / "plain").problems, ElementsAre(HasSubstr("not an executable")));
  EXPECT_THAT(resolve(dir_ / "missing").problems, ElementsAre(HasSubstr("nothing stands")));

  // What is taken for an entry at all.
  dir_.write("Plist.app/Contents/Info.plist", "<plist/>");  // nothing the application could end
  for (auto [name, reason] : std::vector<std::pair<std::string, std::string>>{
           {"plain", "not executable"},
           {"missing", "nothing stands"},
           {"Plist.app", "no Contents/MacOS"},
           {"wrapped.desktop", "starts other programs"},
           {"gone.desktop", ""},  // its program is for `resolve` to find
       }) {
    const Status checked = BlockedExecutables::checkEntry(dir_ / name, fs_);
    EXPECT_EQ(checked.ok(), reason.empty()) << name;
    EXPECT_THAT(checked.message(), HasSubstr(reason)) << name;
  }
}

}  // namespace
}  // namespace zelto
