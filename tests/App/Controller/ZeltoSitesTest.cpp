// The controller's site lists and decisions, on a configuration written to a private home.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "App/Controller/Zelto.h"
#include "Platform/NotificationCenter.h"
#include "Support/FakeClock.h"
#include "Support/LogCapture.h"
#include "Support/TestEnv.h"

namespace zelto {
namespace {

using json = nlohmann::json;
using ::testing::ElementsAre;
using testing::LogCapture;
using testing::TestEnv;
using Strings = std::vector<std::string>;

const Strings kAlwaysAllowed = {"+chrome://",
                                "+favorites://",
                                "+bookmarks://",
                                "+history://",
                                "+vivaldi://",
                                "+opera://",
                                "+http://localhost:8919/block/",
                                "+quarnix.com"};

Strings concat(Strings a, const Strings& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Strings sources(const ZeltoURL::Formats& formats) {
  Strings result;
  for (const auto& format : formats) result.push_back(format->regexUrlStr);
  return result;
}

class ZeltoSitesTest : public ::testing::Test {
 protected:
  ZeltoSitesTest() { ZeltoPreferences::resetSharedInstanceForTesting(); }
  ~ZeltoSitesTest() override {
    controller_.reset();
    ZeltoPreferences::resetSharedInstanceForTesting();
  }

  Zelto& start(const json& profile) {
    env_.temp().write(".local/share/Zelto/default.cfg",
                      json{{"profiles", json::array({profile})}}.dump());
    controller_ = std::make_unique<Zelto>(clock_);
    return *controller_;
  }

  TestEnv env_;
  FakeClock clock_;
  std::unique_ptr<Zelto> controller_;
};

TEST_F(ZeltoSitesTest, BlockListMode) {
  Zelto& zelto = start({{"blockedWebsites", {"Example.COM", "", "news.org/", 7}},
                        {"whitelistedWebsites", {"allowed.net"}}});
  EXPECT_EQ(zelto.blockedURLs(), Strings({"Example.COM", "", "news.org/"}));  // as written
  EXPECT_EQ(zelto.unadjustedFilteredSites(), Strings({"Example.COM", "news.org/"}));
  EXPECT_EQ(zelto.filteredSites(), concat({"Example.COM", "news.org/"}, kAlwaysAllowed));
  EXPECT_EQ(zelto.normalizedBlockedURLs(), Strings({"example.com", "", "news.org/"}));
  EXPECT_EQ(zelto.blockedDomains(), zelto.normalizedBlockedURLs());

  ZeltoURL::Formats formats = zelto.blockedRegexURLs();
  ASSERT_EQ(formats.size(), 10u);
  EXPECT_EQ(formats[0]->regexUrlStr, "https?://(www\\.)?Example.COM");
  EXPECT_FALSE(formats[0]->whitelist);
  EXPECT_EQ(formats[2]->regexUrlStr, "chrome://");  // the first always-allowed address
  EXPECT_TRUE(formats[2]->whitelist);
  // The extension list: the same, and an empty entry neither warns nor converts.
  LogCapture capture;
  EXPECT_EQ(sources(zelto.getBrowserExtensionBlockURLs()), sources(formats));
  EXPECT_EQ(capture.countStartingWith("Error adding regex format"), 0u);

  EXPECT_TRUE(zelto.urlIsBlocked("https://www.example.com/feed"));
  EXPECT_FALSE(zelto.urlIsBlocked("https://allowed.net/"));
  EXPECT_FALSE(zelto.urlIsBlocked("chrome://settings"));
  EXPECT_EQ(zelto.bulkFilterUrls({"http://news.org/?page=2", "http://news.org/about",
                                  "http://localhost:1234/block/?zelto_url=http%3A%2F%2Fnews.org%2F",
                                  "https://www.news.org#top"}),
            Strings({"http://news.org/?page=2", "https://www.news.org#top"}));
}

TEST_F(ZeltoSitesTest, AllowListMode) {
  Zelto& zelto = start({{"enableWhitelistWebsites", true},
                        {"blockedWebsites", {"Blocked.com"}},
                        {"whitelistedWebsites", {"Docs.org", ""}}});
  EXPECT_EQ(zelto.blockedURLs(), Strings({"Docs.org", ""}));
  EXPECT_EQ(zelto.filteredSites(), concat({"Docs.org"}, kAlwaysAllowed));
  EXPECT_EQ(zelto.normalizedBlockedURLs(), Strings({"docs.org", ""}));
  EXPECT_EQ(zelto.blockedDomains(), Strings({"blocked.com"}));
  // Every format handed to extensions allows; an empty allowed entry doesn't become "+", which
  // would allow the whole web.
  ZeltoURL::Formats extension = zelto.getBrowserExtensionBlockURLs();
  ASSERT_EQ(extension.size(), 9u);
  for (const auto& format : extension) EXPECT_TRUE(format->whitelist) << format->regexUrlStr;
  EXPECT_EQ(extension[0]->regexUrlStr, "https?://(www\\.)?Docs.org");

  EXPECT_FALSE(zelto.urlIsBlocked("https://docs.org/guide"));
  EXPECT_FALSE(zelto.urlIsBlocked("https://quarnix.com/help"));
  EXPECT_TRUE(zelto.urlIsBlocked("https://other.net/"));
  EXPECT_TRUE(zelto.urlIsBlocked("https://blocked.com/"));
  // The formats compare as written: the allowed "Docs.org" lets through that spelling only.
  EXPECT_EQ(zelto.bulkFilterUrls({"https://Docs.org/", "https://other.net/", "chrome://flags"}),
            Strings({"https://other.net/"}));
}

TEST_F(ZeltoSitesTest, ABrokenPatternIsLeftOutWithAWarning) {
  Zelto& zelto = start({{"blockedWebsites", {"/(/", "ok.com"}}});
  LogCapture capture;
  EXPECT_EQ(zelto.blockedRegexURLs().size(), 9u);
  EXPECT_EQ(capture.countStartingWith("Error adding regex format: /(/"), 1u);
  EXPECT_TRUE(zelto.urlIsBlocked("http://ok.com/"));
  EXPECT_FALSE(zelto.urlIsBlocked("http://(/"));
}

TEST_F(ZeltoSitesTest, MatchersAreBuiltAtOnceAndRebuiltOnNotice) {
  Zelto& zelto = start({{"blockedWebsites", {"first.com"}}});
  EXPECT_EQ(zelto.urlMatchManager().matches().size(), 9u);
  EXPECT_TRUE(zelto.urlIsBlocked("http://first.com/"));

  zelto.prefs()->defaultProfile()->blockedWebsites = {"second.com"};
  EXPECT_TRUE(zelto.urlIsBlocked("http://first.com/"));  // not until told
  NotificationCenter::defaultCenter().post("DidUpdateBlockSettings");
  EXPECT_FALSE(zelto.urlIsBlocked("http://first.com/"));
  EXPECT_TRUE(zelto.urlIsBlocked("http://second.com/"));
}

TEST_F(ZeltoSitesTest, WithoutARecordNothingIsBlocked) {
  env_.temp().write(".local/share/Zelto/default.cfg", "[]");
  controller_ = std::make_unique<Zelto>(clock_);
  ASSERT_EQ(controller_->prefs(), nullptr);
  EXPECT_EQ(controller_->filteredSites(), kAlwaysAllowed);
  EXPECT_FALSE(controller_->urlIsBlocked("https://example.com/"));
  EXPECT_THAT(controller_->bulkFilterUrls({"https://example.com/"}), ElementsAre());
}

}  // namespace
}  // namespace zelto
