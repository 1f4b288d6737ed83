// The controller's block decision, on a configuration written to a private home: the list in
// force of the default profile, matched as the URL matcher manager decides (its own tests cover
// the patterns).
#include <gtest/gtest.h>

#include "Platform/NotificationCenter.h"
#include "Support/ControllerFixture.h"

namespace zelto {
namespace {

using json = nlohmann::json;

class ZeltoSitesTest : public testing::ControllerFixture {};

TEST_F(ZeltoSitesTest, TheListInForceDecides) {
  Zelto& zelto = start({{"blockedWebsites", {"Example.COM", "", "news.org/", 7, "/(/"}},
                        {"whitelistedWebsites", {"allowed.net"}}});
  EXPECT_TRUE(zelto.urlIsBlocked("https://www.example.com/feed"));
  EXPECT_TRUE(zelto.urlIsBlocked("http://news.org/?page=2"));
  EXPECT_FALSE(zelto.urlIsBlocked("https://allowed.net/"));  // the allow list is not in force

  Zelto& allowing = start({{"enableWhitelistWebsites", true},
                           {"blockedWebsites", {"Blocked.com"}},
                           {"whitelistedWebsites", {"Docs.org", ""}}});
  EXPECT_FALSE(allowing.urlIsBlocked("https://docs.org/guide"));
  EXPECT_TRUE(allowing.urlIsBlocked("https://other.net/"));
  EXPECT_TRUE(allowing.urlIsBlocked("https://blocked.com/"));
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
  make(json::array());
  ASSERT_EQ(controller_->prefs(), nullptr);
  EXPECT_FALSE(controller_->urlIsBlocked("https://example.com/"));
}

}  // namespace
}  // namespace zelto
