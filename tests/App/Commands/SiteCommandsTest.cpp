#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "App/Commands/SiteCommands.h"
#include "Support/ControllerFixture.h"

namespace zelto {
namespace {

using json = nlohmann::json;
using Options = SiteCommands::Options;

class SiteCommandsTest : public testing::ControllerFixture {
 protected:
  bool blocks(Zelto& zelto, const std::string& url) {
    return zelto.urlMatchManager().decide(url).blocked;
  }
};

TEST_F(SiteCommandsTest, AddAndRemoveEditTheSavedListAndTheMatchersFollow) {
  Zelto& zelto = start({{"blockedWebsites", {"a.com"}}, {"whitelistedWebsites", json::array()}});
  EXPECT_FALSE(blocks(zelto, "https://b.com/x"));

  CommandOutcome added = SiteCommands::add(zelto, {false, {"b.com", "a.com", "b.com"}});
  ASSERT_TRUE(added.ok()) << added.text;
  EXPECT_EQ(storedProfile()["blockedWebsites"], json({"a.com", "b.com"}));
  EXPECT_EQ(added.report, json::parse(R"({"list": "blocked", "patterns": ["a.com", "b.com"],
      "allowListOn": false, "added": ["b.com"], "alreadyListed": ["a.com"]})"));
  EXPECT_TRUE(blocks(zelto, "https://b.com/x"));
  // Shown as text only, the outcome tells the same, and its report leaves the list out.
  CommandOutcome shown = SiteCommands::list(zelto, {.patterns = {}, .textOnly = true});
  EXPECT_EQ(shown.text, "Blocked sites:\na.com\nb.com\n");
  EXPECT_EQ(shown.text, SiteCommands::list(zelto, {}).text);
  EXPECT_FALSE(shown.report.contains("patterns"));

  CommandOutcome removed = SiteCommands::remove(zelto, {false, {"a.com"}});
  ASSERT_TRUE(removed.ok()) << removed.text;
  EXPECT_EQ(storedProfile()["blockedWebsites"], json({"b.com"}));
  EXPECT_FALSE(blocks(zelto, "https://a.com/"));

  // The allow list is its own list; a pattern not listed is named and nothing changes.
  EXPECT_TRUE(SiteCommands::add(zelto, {true, {"w.com"}}).ok());
  EXPECT_EQ(storedProfile()["whitelistedWebsites"], json({"w.com"}));
  CommandOutcome missing = SiteCommands::remove(zelto, {false, {"b.com", "w.com"}});
  EXPECT_EQ(missing.exitCode, CommandOutcome::kRefused);
  EXPECT_EQ(missing.text, "\"w.com\" is not in the blocked sites\n");
  EXPECT_EQ(storedProfile()["blockedWebsites"], json({"b.com"}));

  // Entries of other types in a hand-edited list are kept.
  zelto.prefs()->defaultProfile()->blockedWebsites = json({"b.com", 7});
  EXPECT_TRUE(SiteCommands::remove(zelto, {false, {"b.com"}}).ok());
  EXPECT_EQ(storedProfile()["blockedWebsites"], json({7}));
}

TEST_F(SiteCommandsTest, BadPatternsAreNamedAndChangeNothing) {
  Zelto& zelto = start({{"blockedWebsites", {"a.com"}}});
  const json before = storedProfile();
  CommandOutcome bad = SiteCommands::add(zelto, {false, {"ok.com", "/a(/"}});
  EXPECT_EQ(bad.exitCode, CommandOutcome::kUsage);
  EXPECT_NE(bad.text.find("\"/a(/\""), std::string::npos) << bad.text;
  EXPECT_NE(bad.text.find("U_REGEX_MISMATCHED_PAREN"), std::string::npos) << bad.text;
  for (const char* pattern : {"", "/", "+*.x[.com", "a.com b.com", "tab\t.com", "*.x .com"}) {
    EXPECT_EQ(SiteCommands::add(zelto, {true, {"ok.com", pattern}}).exitCode,
              CommandOutcome::kUsage)
        << pattern;
  }
  EXPECT_EQ(storedProfile(), before);

  // A pattern the matchers take as a plain address is no expression, whatever it holds.
  EXPECT_TRUE(SiteCommands::add(zelto, {false, {"a(b.com", "/x[0-9]+/"}}).ok());
}

TEST_F(SiteCommandsTest, ALockedPeriodRefusesWhatCouldLetASiteThrough) {
  Zelto& zelto = startLocked({{"blockedWebsites", {"a.com", "+ok.com", ""}},
                              {"whitelistedWebsites", {"w.com", "-bad.com"}}});
  const json before = storedProfile();
  CommandOutcome removal = SiteCommands::remove(zelto, {false, {"+ok.com", "a.com"}});
  EXPECT_EQ(removal.exitCode, CommandOutcome::kRefused);
  EXPECT_EQ(removal.text,
            "Removing \"a.com\" from the blocked sites is refused while blocking is locked: this "
            "session must be completed (hardcore mode); it ends at 13:00 (in 1 hour).\n");
  EXPECT_EQ(removal.report["endsAt"], "2026-12-09T12:00:00.000Z");
  EXPECT_EQ(SiteCommands::add(zelto, {false, {"c.com", "+x.com"}}).exitCode,
            CommandOutcome::kRefused);
  EXPECT_EQ(SiteCommands::add(zelto, {true, {"-y.com"}}).exitCode, CommandOutcome::kRefused);
  EXPECT_EQ(SiteCommands::setAllowList(zelto, true).exitCode, CommandOutcome::kRefused);
  EXPECT_EQ(storedProfile(), before);

  // What tightens goes through.
  EXPECT_TRUE(SiteCommands::add(zelto, {false, {"c.com", "-d.com"}}).ok());
  EXPECT_TRUE(SiteCommands::remove(zelto, {false, {"+ok.com", ""}}).ok());
  EXPECT_TRUE(SiteCommands::remove(zelto, {true, {"w.com", "-bad.com"}}).ok());
  EXPECT_TRUE(SiteCommands::setAllowList(zelto, false).ok());  // already off: no change
  json after = storedProfile();
  EXPECT_EQ(after["blockedWebsites"], json({"a.com", "c.com", "-d.com"}));
  EXPECT_EQ(after["whitelistedWebsites"], json::array());

  // With the allow list in force, removing its blocking patterns loosens (ChangePolicyTest has
  // every case); the refusal names the list.
  Zelto& listed = startLocked(
      {{"enableWhitelistWebsites", true}, {"whitelistedWebsites", {"w.com", "-bad.com"}}});
  EXPECT_THAT(
      SiteCommands::remove(listed, {true, {"-bad.com"}}).text,
      ::testing::StartsWith("Removing the blocking pattern \"-bad.com\" from the allow list "
                            "is refused while blocking is locked"));
}

TEST_F(SiteCommandsTest, TheAllowListSwitchIsSavedAndDecides) {
  Zelto& zelto = start({{"blockedWebsites", {"a.com"}}, {"whitelistedWebsites", {"w.com"}}});
  CommandOutcome on = SiteCommands::setAllowList(zelto, true);
  ASSERT_TRUE(on.ok()) << on.text;
  EXPECT_EQ(on.report, json::parse(R"({"changed": true, "list": "allowed", "patterns": ["w.com"],
      "allowListOn": true})"));
  EXPECT_EQ(storedProfile()["enableWhitelistWebsites"], true);
  EXPECT_TRUE(blocks(zelto, "https://other.org/"));
  EXPECT_FALSE(blocks(zelto, "https://w.com/"));
  EXPECT_EQ(SiteCommands::setAllowList(zelto, true).report["changed"], false);

  CommandOutcome listed = SiteCommands::list(zelto, {false, {}});
  EXPECT_EQ(listed.text, "Blocked sites (not in force: the allow list is on):\na.com\n");
}

}  // namespace
}  // namespace zelto
