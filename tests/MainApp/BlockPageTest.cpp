#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "App/Blocking/Helpers/ZeltoURL.h"
#include "MainApp/BlockPage.h"
#include "MainApp/BlockPageServer.h"
#include "Support/ControllerFixture.h"
#include "Support/FakeNetwork.h"
#include "Support/FakeRunLoop.h"
#include "Support/LoopbackClient.h"

namespace zelto {
namespace {

using ::testing::AllOf;
using ::testing::FieldsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
using json = nlohmann::json;

class BlockPageTest : public testing::ControllerFixture {
 protected:
  // The target of the block page at `address` (less scheme, host and port).
  static std::string targetOf(const std::string& address) {
    return address.substr(address.find("/block/"));
  }
};

// Whether `text` holds a control character other than a line end.
bool hasRawControl(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    return c != '\n' && (static_cast<unsigned char>(c) < 0x20 || c == 0x7F);
  });
}

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
  const std::string target = targetOf(address);
  // Quote index 2 of two: the first.
  EXPECT_THAT(BlockPage::respond(zelto, "GET", target, 8920, 2),
              FieldsAre(200, "text/html; charset=utf-8",
                        AllOf(HasSubstr("https://x.example/&lt;script&gt;alert(1)&lt;/script&gt;"
                                        "?q=&quot;a b&quot;"),
                              Not(HasSubstr("<script>")), HasSubstr("Blocking ends in 25 minutes."),
                              HasSubstr("First &lt;one&gt;"), HasSubstr("A &amp; B"),
                              HasSubstr("<a href=\"/\">Zelto settings</a>")),
                        IsEmpty(), false));
  EXPECT_THAT(BlockPage::respond(zelto, "GET", target, 8920, 1).body, HasSubstr("Second"));
}

TEST_F(BlockPageTest, TheTimeLeftFollowsTheMode) {
  EXPECT_EQ(BlockPage::timeLeftText(
                start(json::object(), {{"lastZeltoDate", "2026-12-09T11:00:00+01:00"}})),
            "Blocking runs until it is stopped.");
  // 12-hour: no clock format set.
  EXPECT_THAT(BlockPage::timeLeftText(start({{"schedules", {weekdays("DAY", 9, 17, 10)}}})),
              AllOf(HasSubstr("Scheduled blocking ends at "), HasSubstr("5:00")));
}

TEST_F(BlockPageTest, ThePacFileSendsAllButLoopbackThroughTheProxyAndTheRestIs404) {
  Zelto& zelto = start(json::object());
  EXPECT_THAT(BlockPage::respond(zelto, "GET", "/proxy.pac", 9999, 0),
              FieldsAre(200, "application/x-ns-proxy-autoconfig",
                        AllOf(HasSubstr("return \"PROXY 127.0.0.1:9999\";"),
                              HasSubstr("shExpMatch(host, \"127.*\")")),
                        IsEmpty(), false));
  // Port 0: the proxy isn't listening, and no browser is sent there.
  EXPECT_THAT(
      BlockPage::respond(zelto, "GET", "/proxy.pac", 0, 0),
      FieldsAre(503, "text/plain; charset=utf-8", Not(HasSubstr("PROXY")), IsEmpty(), false));
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

TEST(BlockPageAddressTest, TheShownAddressIsShortAndShowsControlCharactersAsText) {
  const std::string e = "\xC3\xA9";             // é: two bytes
  const std::string face = "\xF0\x9F\x98\x80";  // four bytes
  auto times = [](const std::string& piece, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += piece;
    return out;
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {std::string("a\0b", 3), "a\\x00b"},
      {"\x01\x1F\x7F\t\r\n", "\\x01\\x1F\\x7F\\x09\\x0D\\x0A"},
      {"http://x.example/?q=\"a b\"<", "http://x.example/?q=\"a b\"<"},  // escaped later
      {std::string(200, 'a'), std::string(200, 'a')},
      {std::string(201, 'a'), std::string(200, 'a') + "…"},
      {times(e, 250), times(e, 200) + "…"},
      {times(face, 201), times(face, 200) + "…"},
      {std::string(199, 'a') + "\x01\x02", std::string(199, 'a') + "\\x01…"},
  };
  for (const auto& [url, shown] : cases) {
    EXPECT_EQ(BlockPage::shownAddress(url), shown) << url;
  }
  // Bytes that aren't UTF-8 can't make it long either.
  EXPECT_LE(BlockPage::shownAddress(std::string(100'000, '\x80')).size(), 4u * 200 + 3);
}

TEST_F(BlockPageTest, ControlCharactersInTheAddressNeverReachThePageRaw) {
  Zelto& zelto = start(json::object());
  for (const char* value : {"%00", "a%00b%1F%7F", "%0D%0A%3Cscript%3E", "%0A%00%0A"}) {
    HttpAnswer page =
        BlockPage::respond(zelto, "GET", std::string("/block/?zelto_url=") + value, 8920, 0);
    EXPECT_EQ(page.status, 200) << value;
    EXPECT_FALSE(hasRawControl(page.body)) << value;
    EXPECT_THAT(page.body, Not(HasSubstr("<script>"))) << value;
  }
  EXPECT_THAT(BlockPage::respond(zelto, "GET", "/block/?zelto_url=a%00b", 8920, 0).body,
              HasSubstr("<code>a\\x00b</code>"));
}

TEST_F(BlockPageTest, AnyBlockedAddressLeadsToABlockPageTheServerAnswers) {
  Zelto& zelto = start(json::object());
  // A short address travels whole, as it always did.
  const std::string shortUrl = "https://x.example/a b?c=d&e=é";
  EXPECT_EQ(BlockPage::locationFor(zelto, shortUrl),
            zelto.zeltoURL().getZeltoBlockedPageForURL(shortUrl));

  // A long one travels cut between characters: 17 bytes, then é after é.
  std::string longUrl = "http://x.example/";
  while (longUrl.size() < 100'000) longUrl += "\xC3\xA9";
  const std::string location = BlockPage::locationFor(zelto, longUrl);
  EXPECT_EQ(location.rfind(zelto.zeltoURL().getZeltoBlockedPage(), 0), 0u);
  EXPECT_EQ(ZeltoURL::getZeltoURLFromProxyURL(location), longUrl.substr(0, 1999));

  // And the server answers it with the page.
  FakeClock clock;
  FakeRunLoop loop(clock);
  testing::FakeNetwork network(loop);
  BlockPageServer server(loop, network, [&](const std::string& method, const std::string& target) {
    return BlockPage::respond(zelto, method, target, 8920, 0);
  });
  ASSERT_TRUE(server.start(0).ok());
  testing::LoopbackClient client(
      network, server.port(), "GET " + targetOf(location) + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
  loop.runUntilIdle();
  ASSERT_TRUE(client.ended);
  EXPECT_THAT(client.received,
              AllOf(StartsWith("HTTP/1.1 200 OK\r\n"),
                    HasSubstr("<code>http://x.example/\xC3\xA9\xC3\xA9"), HasSubstr("…</code>")));
}

}  // namespace
}  // namespace zelto
