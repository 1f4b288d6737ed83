#include <gtest/gtest.h>

#include "Platform/CommandLineProgram.h"

namespace zelto {
namespace {

using Words = std::vector<std::string>;

TEST(CommandLineProgramTest, InterpretersAndLoadersAreToldByName) {
  for (const char* path : {"/usr/bin/dash", "/bin/sh", "python3.11", "/usr/bin/perl5.36.0",
                           "/usr/bin/lua5.4", "/usr/bin/busybox"}) {
    EXPECT_TRUE(CommandLineProgram::isInterpreterName(path)) << path;
  }
  for (const char* path : {"/usr/bin/shred", "/usr/bin/ssh", "/opt/bash/app", "", "/usr/bin/3"}) {
    EXPECT_FALSE(CommandLineProgram::isInterpreterName(path)) << path;
  }
  for (const char* path : {"/usr/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2", "/lib/ld.so",
                           "/lib/ld-musl-x86_64.so.1", "/lib64/ld64.so.2"}) {
    EXPECT_TRUE(CommandLineProgram::isLoaderName(path)) << path;
  }
  for (const char* path : {"/usr/bin/ld", "/usr/bin/ld.gold", "/lib/ld-config", "/lib/libld.so"}) {
    EXPECT_FALSE(CommandLineProgram::isLoaderName(path)) << path;
  }
}

// The first argument past the options; the second only after an interpreter's name (a program
// given the script as its argument, an editor or a copy, is not running it).
TEST(CommandLineProgramTest, TheScriptIsTheFirstArgumentPastTheOptions) {
  for (const auto& [arguments, candidates] : std::vector<std::pair<Words, Words>>{
           {{"/bin/sh", "/opt/run", "--flag"}, {"/opt/run"}},
           {{"/bin/sh", "-e -u", "run", "a"}, {"run"}},  // a "#!" line's one argument
           {{"bash", "-x", "--", "-named", "a", "b"}, {"-named"}},
           {{"busybox", "sh", "script"}, {"sh", "script"}},
           {{"/bin/busybox", "/bin/ash", "script", "a"}, {"/bin/ash", "script"}},
           {{"python3", "editor.py", "/opt/blocked"}, {"editor.py"}},
           {{"sh", "-c", "cp", "/opt/blocked", "/tmp"}, {"cp"}},
           {{"python3", "-I"}, {}},
           {{"sh"}, {}},
           {{}, {}}}) {
    EXPECT_EQ(CommandLineProgram::scriptCandidates(arguments), candidates)
        << ::testing::PrintToString(arguments);
  }
}

TEST(CommandLineProgramTest, TheLoadersProgramFollowsItsOptionsAndTheirValues) {
  for (const auto& [arguments, program] : std::vector<std::pair<Words, std::optional<size_t>>>{
           {{"ld.so", "/opt/app", "--library-path", "x"}, 1},
           {{"ld.so", "--library-path", "/opt", "--preload", "a.so", "--argv0", "n", "app"}, 7},
           {{"ld.so", "--inhibit-cache", "--list", "app"}, 3},
           {{"ld.so", "--audit", "a.so", "--", "--app"}, 4},
           {{"ld.so", "--glibc-hwcaps-mask", "x", "--inhibit-rpath", "y", "app"}, 5},
           {{"ld.so", "--help", "app"}, std::nullopt},
           {{"ld.so", "--verify", "app"}, std::nullopt},
           {{"ld.so", "--preload"}, std::nullopt},
           {{"ld.so", "--"}, std::nullopt},
           {{"ld.so"}, std::nullopt}}) {
    EXPECT_EQ(CommandLineProgram::loaderProgramIndex(arguments), program)
        << ::testing::PrintToString(arguments);
  }
}

TEST(CommandLineProgramTest, RelativePathsAreTakenFromTheWorkingDirectory) {
  EXPECT_EQ(CommandLineProgram::absoluteAgainst("run", "/home/u"), "/home/u/run");
  EXPECT_EQ(CommandLineProgram::absoluteAgainst("./run", "/"), "/./run");
  EXPECT_EQ(CommandLineProgram::absoluteAgainst("/abs", ""), "/abs");
  EXPECT_EQ(CommandLineProgram::absoluteAgainst("run", ""), "");
  EXPECT_EQ(CommandLineProgram::absoluteAgainst("", "/home"), "");
}

}  // namespace
}  // namespace zelto
