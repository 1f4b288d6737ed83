#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "MainApp/BlockPage.h"
#include "Tools/zeltoctl/CommandsFixture.h"

namespace zelto {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using json = nlohmann::json;

class BlockPageTest : public testing::CommandsFixture {};

TEST_F(BlockPageTest, ThePageNamesTheAddressEscapedWithTimeLeftAndAQuote) {
  Zelto& zelto =
      start({{"quotes", {{{"quote", "First <one>"}, {"author", "A & B"}}, {{"quote", "Second"}}}}},
            {{"zeltoType", 1},
             {"zeltoUnblockDate", "2026-12-09T12:25:00+01:00"},
             {"lastZeltoDate", "2026-12-09T12:00:00+01:00"}});
  zelto.isZeltoing = true;
  // The block page's address for the URL, less scheme, host and port.
  const std::string address = zelto.zeltoURL().getZeltoBlockedPageForURL(
      "https://x.example/<script>alert(1)</script>?q=\"a b\"");
  const std::string target = address.substr(address.find("/block/"));
  HttpAnswer page = BlockPage::respond(zelto, "GET", target, 8920, 2);
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.contentType, "text/html; charset=utf-8");
  EXPECT_THAT(page.body, HasSubstr("https://x.example/&lt;script&gt;alert(1)&lt;/script&gt;"
                                   "?q=&quot;a b&quot;"));
  EXPECT_THAT(page.body, Not(HasSubstr("<script>")));
  EXPECT_THAT(page.body, HasSubstr("Blocking ends in 25 minutes."));
  EXPECT_THAT(page.body, HasSubstr("First &lt;one&gt;"));  // index 2 of two quotes: the first
  EXPECT_THAT(page.body, HasSubstr("A &amp; B"));
  EXPECT_THAT(BlockPage::respond(zelto, "GET", target, 8920, 1).body, HasSubstr("Second"));
}

TEST_F(BlockPageTest, TheTimeLeftFollowsTheMode) {
  EXPECT_EQ(BlockPage::timeLeftText(
                start(json::object(), {{"lastZeltoDate", "2026-12-09T11:00:00+01:00"}})),
            "Blocking runs until it is stopped.");
  Zelto& scheduled = start({{"schedules",
                             {{{"isEnabled", true},
                               {"scheduleType", 10},
                               {"fromDate", {{"hour", 9}}},
                               {"toDate", {{"hour", 17}}},
                               {"uniqueID", "DAY"}}}}});
  EXPECT_THAT(BlockPage::timeLeftText(scheduled), HasSubstr("Scheduled blocking ends at "));
  EXPECT_THAT(BlockPage::timeLeftText(scheduled),
              HasSubstr("5:00"));  // 12-hour: no clock format set
}

TEST_F(BlockPageTest, ThePacFileSendsAllButLoopbackThroughTheProxyAndTheRestIs404) {
  Zelto& zelto = start(json::object());
  HttpAnswer pac = BlockPage::respond(zelto, "GET", "/proxy.pac", 9999, 0);
  EXPECT_EQ(pac.status, 200);
  EXPECT_EQ(pac.contentType, "application/x-ns-proxy-autoconfig");
  EXPECT_THAT(pac.body, HasSubstr("return \"PROXY 127.0.0.1:9999\";"));
  EXPECT_THAT(pac.body, HasSubstr("shExpMatch(host, \"127.*\")"));
  for (auto [method, target] :
       std::vector<std::pair<std::string, std::string>>{{"POST", "/proxy.pac"},
                                                        {"GET", "/"},
                                                        {"GET", "/blocked/?zelto_url=x"},
                                                        {"GET", "/proxy.pac?x"},
                                                        {"DELETE", "/block/?zelto_url=x"}}) {
    EXPECT_EQ(BlockPage::respond(zelto, method, target, 8920, 0).status, 404)
        << method << " " << target;
  }
}

}  // namespace
}  // namespace zelto
