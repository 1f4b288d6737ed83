#include <gtest/gtest.h>

#include <filesystem>

#include "App/Commands/AppCommands.h"
#include "App/Commands/ApplicationPath.h"
#include "Support/ControllerFixture.h"

namespace zelto {
namespace {

using json = nlohmann::json;
using Options = AppCommands::Options;
namespace fs = std::filesystem;

class AppCommandsTest : public testing::ControllerFixture {
 protected:
  // An executable program under the home (a script with `text`), by its absolute path.
  std::string executable(const std::string& name, const std::string& text =
                                                      "\x7f"
                                                      "ELF") {
    std::string path = env_.temp().write(name, text);
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }
  static json entry(const std::string& path, bool hide, bool force, bool reopen, bool soft) {
    return {{"path", path},
            {"shouldHideInsteadOfQuit", hide},
            {"shouldAlwaysForceQuit", force},
            {"shouldReopenWhenUnzeltoing", reopen},
            {"performOnlySoftKillThenLeaveOpen", soft}};
  }
};

TEST_F(AppCommandsTest, OnlyApplicationsAreTakenAndStoredByTheirAbsolutePath) {
  Zelto& zelto = start(json::object());
  const std::string home = env_.home();
  executable("bin/tool");
  fs::create_symlink(home + "/bin/tool", home + "/link");
  env_.temp().write("plain", "text");
  env_.temp().write("runs.desktop", "[Desktop Entry]\nName=T\nExec = " + home + "/bin/tool %f\n");
  env_.temp().write("idle.desktop", "[Desktop Entry]\nName=No\n[Desktop Action New]\nExec=ed\n");
  executable("Info.app/Contents/MacOS/info");
  env_.temp().write("Info.app/Contents/Info.plist", "<plist/>");
  executable("Exe.app/Contents/MacOS/exe");
  fs::create_directories(home + "/folder");
  // A launcher script is taken (the application tells its running copies by the script their
  // interpreter runs); what the application couldn't end is refused: a bundle with no program,
  // an entry whose program is nowhere.
  executable("bin/launcher", "#!/bin/sh\nexec tool\n");
  fs::create_directories(home + "/Empty.app/Contents/MacOS");
  env_.temp().write("Empty.app/Contents/Info.plist", "<plist/>");
  env_.temp().write("gone.desktop", "[Desktop Entry]\nExec=" + home + "/nowhere\n");

  // No application: a usage error; one the application couldn't end: refused, saying why.
  const std::pair<std::string, std::string> bad[] = {
      {"plain", ""},   {"idle.desktop", ""},           {"folder", ""},
      {"missing", ""}, {"Empty.app", "no executable"}, {"gone.desktop", "nowhere"}};
  for (const auto& [name, reason] : bad) {
    CommandOutcome outcome =
        AppCommands::add(zelto, {.paths = {home + "/bin/tool", home + "/" + name}});
    EXPECT_EQ(outcome.exitCode, reason.empty() ? CommandOutcome::kUsage : CommandOutcome::kRefused)
        << name;
    EXPECT_NE(outcome.text.find(home + "/" + name + "\" can't be blocked: "), std::string::npos)
        << outcome.text;
    EXPECT_NE(outcome.text.find(reason), std::string::npos) << outcome.text;
    if (!reason.empty()) {
      EXPECT_NE(outcome.text.find("Name the program itself"), std::string::npos) << outcome.text;
    }
  }
  EXPECT_EQ(storedProfile().value("blockedApplications", json::array()), json::array());

  // Relative paths against the working directory; the link is kept as written.
  const Options good{.paths = {"bin/./tool", "folder/../link", "runs.desktop", "Info.app/",
                               home + "/Exe.app", "bin/launcher"},
                     .workingDirectory = home + "/folder/..//"};
  CommandOutcome added = AppCommands::add(zelto, good);
  ASSERT_TRUE(added.ok()) << added.text;
  json expected = json::array();
  for (const char* name :
       {"/bin/tool", "/link", "/runs.desktop", "/Info.app", "/Exe.app", "/bin/launcher"}) {
    expected.push_back(entry(home + name, false, false, true, false));  // made to quit
  }
  EXPECT_EQ(storedProfile()["blockedApplications"], expected);

  EXPECT_EQ(*ApplicationPath::absolute("/a/../../b/", ""), "/b");
  EXPECT_FALSE(ApplicationPath::absolute("b", "").ok());
}

TEST_F(AppCommandsTest, AddingAgainUpdatesTheFlagsGivenAndRemoveTakesEntriesOut) {
  const std::string tool = executable("tool");
  const std::string other = executable("other");
  Zelto& zelto = start({{"blockedApplications", {entry(tool, true, false, true, false), 3}}});
  const json before = storedProfile();
  EXPECT_EQ(AppCommands::add(zelto, {.paths = {tool}}).report["alreadyListed"], json({tool}));
  EXPECT_EQ(storedProfile(), before);

  CommandOutcome forced =
      AppCommands::add(zelto, {.paths = {tool, other}, .forceQuit = true, .reopen = false});
  ASSERT_TRUE(forced.ok()) << forced.text;
  EXPECT_EQ(forced.report["updated"], json({tool}));
  EXPECT_EQ(forced.report["added"], json({other}));
  EXPECT_EQ(
      storedProfile()["blockedApplications"],
      json({entry(tool, false, true, false, false), 3, entry(other, false, true, false, false)}));

  ASSERT_TRUE(AppCommands::add(zelto, {.paths = {tool}, .hide = true}).ok());
  ASSERT_TRUE(AppCommands::add(zelto, {.paths = {other}, .softQuit = true}).ok());
  // One way of ending an application at a time: soft-quit switches force-quit off.
  EXPECT_EQ(
      storedProfile()["blockedApplications"],
      json({entry(tool, true, false, false, false), 3, entry(other, false, false, false, true)}));

  ASSERT_TRUE(AppCommands::add(zelto, {.paths = {other}, .quit = true}).ok());
  EXPECT_EQ(storedProfile()["blockedApplications"][2], entry(other, false, false, false, false));

  CommandOutcome missing = AppCommands::remove(zelto, {.paths = {tool, "/not/listed"}});
  EXPECT_EQ(missing.exitCode, CommandOutcome::kRefused);
  EXPECT_EQ(missing.text, "\"/not/listed\" is not among the blocked applications\n");
  ASSERT_TRUE(AppCommands::remove(zelto, {.paths = {tool}}).ok());
  EXPECT_EQ(storedProfile()["blockedApplications"],
            json({3, entry(other, false, false, false, false)}));
}

TEST_F(AppCommandsTest, ALockedPeriodKeepsEntriesAndTheirFlags) {
  const std::string tool = executable("tool");
  const std::string other = executable("other");
  Zelto& zelto = startLocked({{"blockedApplications", {entry(tool, true, false, true, false)}}});
  const json before = storedProfile();
  CommandOutcome removal = AppCommands::remove(zelto, {.paths = {tool}});
  EXPECT_EQ(removal.exitCode, CommandOutcome::kRefused);
  EXPECT_NE(removal.text.find("is refused while blocking is locked"), std::string::npos);
  Options change{.paths = {other, tool}, .reopen = false};
  EXPECT_EQ(AppCommands::add(zelto, change).exitCode, CommandOutcome::kRefused);
  EXPECT_EQ(storedProfile(), before);

  // Flags that are already so change nothing; a new application goes through.
  change.reopen = true;
  ASSERT_TRUE(AppCommands::add(zelto, change).ok());
  EXPECT_EQ(storedProfile()["blockedApplications"],
            json({entry(tool, true, false, true, false), entry(other, false, false, true, false)}));
}

}  // namespace
}  // namespace zelto
