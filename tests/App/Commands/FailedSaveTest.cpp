// A configuration that can't be saved: every editing command says so (exit 1, the reason) and
// leaves the file, and the record in memory, as they were.
#include <gtest/gtest.h>

#include "App/Commands/AppCommands.h"
#include "App/Commands/BlockCommands.h"
#include "App/Commands/ScheduleCommands.h"
#include "App/Commands/SiteCommands.h"
#include "Support/ControllerFixture.h"
#include "Support/FaultyFileSystem.h"

namespace zelto {
namespace {

class FailedSaveTest : public testing::ControllerFixture {};

TEST_F(FailedSaveTest, EveryEditReportsTheFailureAndTheFileStays) {
  const std::vector<std::pair<std::string, std::function<CommandOutcome(Zelto&)>>> edits = {
      {"start", [](Zelto& z) { return BlockCommands::start(z, {"25m"}); }},
      {"sites add",
       [](Zelto& z) {
         return SiteCommands::add(z, {false, {"b.com"}});
       }},
      {"sites remove",
       [](Zelto& z) {
         return SiteCommands::remove(z, {false, {"a.com"}});
       }},
      {"sites allow-list on", [](Zelto& z) { return SiteCommands::setAllowList(z, true); }},
      {"apps add",
       [](Zelto& z) {
         return AppCommands::add(z, {.paths = {"/bin/sh"}, .workingDirectory = "/"});
       }},
      {"schedules add",
       [](Zelto& z) {
         return ScheduleCommands::add(z, {"daily", "09:00", "10:00", ""});
       }},
  };
  for (const auto& [name, edit] : edits) {
    Zelto& zelto = start({{"blockedWebsites", {"a.com"}}});
    const std::string before = fileText();
    testing::FaultyFileSystem fs;
    fs.failWrites(env_.home() + "/" + kFile);
    fs.failWrites(env_.home() + "/" + kFile + ".bak");
    Env::ScopedOverride faulty(Env::Services{.fileSystem = &fs});
    CommandOutcome outcome = edit(zelto);
    EXPECT_EQ(outcome.exitCode, CommandOutcome::kRefused) << name;
    EXPECT_NE(outcome.text.find("default.cfg"), std::string::npos) << name << ": " << outcome.text;
    // The cause, not the whole record.
    EXPECT_NE(outcome.text.find("(injected)"), std::string::npos) << name << ": " << outcome.text;
    EXPECT_EQ(outcome.text.find("blockedWebsites"), std::string::npos)
        << name << ": " << outcome.text;
    EXPECT_EQ(fileText(), before) << name;
    // Nor does the record in memory keep what could not be saved.
    const ProfileZeltoPreferences& profile = *zelto.prefs()->defaultProfile();
    EXPECT_EQ(profile.blockedWebsiteList(), std::vector<std::string>{"a.com"}) << name;
    EXPECT_FALSE(profile.enableWhitelistWebsites) << name;
  }
}

}  // namespace
}  // namespace zelto
