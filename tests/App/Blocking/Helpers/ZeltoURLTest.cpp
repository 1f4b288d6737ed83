#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "App/Blocking/Helpers/ZeltoURL.h"
#include "App/Data/Preferences/ZeltoPreferences.h"

namespace zelto {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(ZeltoURLTest, PatternsConvertToTheirSourcesAndFlags) {
  struct Row {
    std::string pattern;
    std::string source;
    bool whitelist;
  };
  const std::string anchor = R"re((\/)?(\?.*)?(#.*)?$)re";
  const std::vector<Row> rows{
      {"example.com", R"re(https?://(www\.)?example.com)re", false},
      {"+example.com", R"re(https?://(www\.)?example.com)re", true},
      {"www.example.com/", "https?://www.example.com" + anchor, false},
      {"example.com/news/", R"re(https?://(www\.)?example.com/news)re" + anchor, false},
      {"*.example.com", R"re(https?://(www\.)?.*[.]example.com)re", false},
      {"example.com/*/x", R"re(https?://(www\.)?example.com/.*/x)re", false},
      {"example.com/a?b", R"re(https?://(www\.)?example.com/a\?b)re", false},
      {"https://example.com/a/", "https://example.com/a" + anchor, false},
      {R"re(/^https?://[^/]*example\.com/)re", R"re(^https?://[^/]*example\.com)re", false},
      {R"re(+/mail\.example\.com/)re", R"re(mail\.example\.com)re", true},
      {"+chrome://", "chrome://", true},
      {"+http://localhost:8919/block/", "http://localhost:8919/block" + anchor, true},
      // The two whole replacements; with a "+" first the ordinary steps apply.
      {"facebook.com", R"re(https?://(www\.)?facebook.com/(?!v2.2/|dialog|login.php))re", false},
      {"imgur.com", R"re(https?://((i|www)\.)?imgur.com)re", false},
      {"+facebook.com", R"re(https?://(www\.)?facebook.com)re", true},
      // Text that already reads as a replacement stays; other schemes get no prefix.
      {"a.*b(c)", R"re(https?://(www\.)?a.*b\(c\))re", false},
      {"ftp://host/", "ftp://host" + anchor, false},
      {"", R"re(https?://(www\.)?)re", false},
      {"+", R"re(https?://(www\.)?)re", true},
      // No expression between the slashes.
      {"/", "", false},
  };
  for (const auto& row : rows) {
    RegexFormat format = ZeltoURL::getRegexFormatFromString(row.pattern);
    EXPECT_EQ(format.regexUrlStr, row.source) << row.pattern;
    EXPECT_EQ(format.whitelist, row.whitelist) << row.pattern;
    EXPECT_FALSE(format.regex.has_value()) << row.pattern;
  }

  // The replacements are expressions ICU takes, and mean what they say.
  auto social = ZeltoURL::getRegexFromString("facebook.com");
  ASSERT_TRUE(social.ok()) << social.status().message();
  EXPECT_TRUE(social->isMatch("https://www.facebook.com/someone"));
  EXPECT_FALSE(social->isMatch("https://facebook.com/dialog/share"));
  EXPECT_FALSE(social->isMatch("https://facebook.com/v2.2/x"));
}

TEST(ZeltoURLTest, SafeReplacementLeavesTextThatAlreadyReadsAsTheReplacement) {
  auto replace = ZeltoURL::stringByReplacingOccurrencesOfStringSafe;
  EXPECT_EQ(replace("a*b.*c*", "*", ".*"), "a.*b.*c.*");
  EXPECT_EQ(replace(R"re(a?b\?)re", "?", R"re(\?)re"), R"re(a\?b\?)re");
  EXPECT_EQ(replace("a-b", "-", ""), "ab");
  EXPECT_EQ(replace("abc", "", "y"), "abc");
  // Text that happens to look like a placeholder is no different from any other.
  EXPECT_EQ(replace("!ZELTO_SAFE_REPLACE_PLACEHOLDER!*", "*", ".*"),
            "!ZELTO_SAFE_REPLACE_PLACEHOLDER!.*");
}

TEST(ZeltoURLTest, FormatsAreCachedOnlyWhenTheyCompile) {
  ZeltoURL zeltoURL([] { return nullptr; });
  auto first = zeltoURL.regexFormatFromString("Example.com/");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(zeltoURL.regexFormatFromString("Example.com/"), first);
  ASSERT_TRUE(first->regex.has_value());
  EXPECT_EQ(first->regex->source(), first->regexUrlStr);
  EXPECT_NE(zeltoURL.regexFormatFromString("example.com/"), first);  // the text is the key
  EXPECT_EQ(zeltoURL.cachedFormatCount(), 2u);

  EXPECT_EQ(zeltoURL.regexFormatFromString("/(unbalanced/"), nullptr);
  EXPECT_EQ(zeltoURL.regexFormatFromString("/(unbalanced/"), nullptr);
  EXPECT_EQ(zeltoURL.regexFormatFromString(""), nullptr);
  EXPECT_EQ(zeltoURL.regexFormatFromString("/"), nullptr);
  EXPECT_EQ(zeltoURL.regexFormatFromString("//"), nullptr);
  EXPECT_EQ(zeltoURL.cachedFormatCount(), 2u);

  auto regex = zeltoURL.regexFromString("example.com");
  ASSERT_TRUE(regex.has_value());
  EXPECT_TRUE(regex->isMatch("https://www.example.com/x"));
}

TEST(ZeltoURLTest, ListAndBatchDecisions) {
  ZeltoURL zeltoURL([] { return nullptr; });
  auto format = [&](const std::string& pattern) {
    auto built = zeltoURL.regexFormatFromString(pattern);
    EXPECT_NE(built, nullptr) << pattern;
    return built;
  };
  const ZeltoURL::Formats formats{format("example.com"), format("+example.com/ok"),
                                  format("other.org")};
  const ZeltoURL::Formats none;

  // Block-list mode: blocked on a match, unless a matching "+" format stands anywhere.
  EXPECT_TRUE(zeltoURL.urlIsBlocked("https://example.com/x", false, formats));
  EXPECT_FALSE(zeltoURL.urlIsBlocked("https://example.com/ok", false, formats));
  EXPECT_FALSE(zeltoURL.urlIsBlocked("https://elsewhere.net/", false, formats));
  EXPECT_FALSE(zeltoURL.urlIsBlocked("HTTPS://EXAMPLE.COM/", false, formats));  // as given
  EXPECT_FALSE(zeltoURL.urlIsBlocked("https://example.com/", false, none));
  // Allow-list mode: blocked unless something matches.
  EXPECT_FALSE(zeltoURL.urlIsBlocked("https://example.com/x", true, formats));
  EXPECT_TRUE(zeltoURL.urlIsBlocked("https://elsewhere.net/", true, formats));
  EXPECT_TRUE(zeltoURL.urlIsBlocked("https://example.com/", true, none));
  // A format that never compiled (or none at all) matches nothing.
  const ZeltoURL::Formats broken{
      nullptr, std::make_shared<RegexFormat>(RegexFormat{".*", false, std::nullopt})};
  EXPECT_FALSE(zeltoURL.urlIsBlocked("https://example.com/", false, broken));

  const std::string blockPage = zeltoURL.getZeltoBlockedPageForURL("https://example.com/");
  const std::vector<std::string> urls{"https://example.com/a", blockPage, "https://elsewhere.net/",
                                      "http://other.org/", "https://example.com/ok"};
  EXPECT_THAT(zeltoURL.bulkFilterUrls(urls, formats, false),
              ElementsAre("https://example.com/a", "http://other.org/"));
  EXPECT_THAT(zeltoURL.bulkFilterUrls(urls, formats, true), ElementsAre("https://elsewhere.net/"));
  EXPECT_THAT(zeltoURL.bulkFilterUrls(urls, none, false), IsEmpty());
  EXPECT_THAT(zeltoURL.bulkFilterUrls(urls, none, true),
              ElementsAre("https://example.com/a", "https://elsewhere.net/", "http://other.org/",
                          "https://example.com/ok"));
}

TEST(ZeltoURLTest, BlockPagePortComesFromAWholeHttpPortInRange) {
  ZeltoPreferences prefs;
  ZeltoPreferences* source = nullptr;
  ZeltoURL zeltoURL([&] { return source; });
  EXPECT_EQ(zeltoURL.getZeltoBlockedPage(), "http://localhost:8919/block/");
  source = &prefs;
  EXPECT_EQ(zeltoURL.getZeltoBlockedPage(), "http://localhost:8919/block/");

  // In range and whole, or the default: never a port that wrapped around.
  const std::vector<std::pair<nlohmann::json, int>> ports{
      {8080, 8080}, {65535, 65535}, {8081.0, 8081}, {70000, 8919},
      {0, 8919},    {-80, 8919},    {80.5, 8919},   {"80", 8919}};
  for (const auto& [value, port] : ports) {
    prefs.httpPort = value;
    EXPECT_EQ(zeltoURL.getZeltoBlockedPage(),
              "http://localhost:" + std::to_string(port) + "/block/")
        << value.dump();
  }

  prefs.httpPort = 9000;
  const std::string page = zeltoURL.getZeltoBlockedPageForURL("https://a.com/?q=1&r=2#top");
  EXPECT_EQ(page,
            "http://localhost:9000/block/?zelto_url=https%3A%2F%2Fa.com%2F%3Fq%3D1%26r%3D2%23top");
  EXPECT_TRUE(ZeltoURL::urlIsBlockedPage(page));
  EXPECT_TRUE(ZeltoURL::urlIsBlockedPage("http://localhost:1/block/?zelto_url="));
  EXPECT_FALSE(ZeltoURL::urlIsBlockedPage("http://localhost:9000/block/"));
  EXPECT_FALSE(ZeltoURL::urlIsBlockedPage("https://localhost:9000/block/?zelto_url=x"));
  EXPECT_FALSE(
      ZeltoURL::urlIsBlockedPage("http://example.com/?u=http://localhost/block/?zelto_url="));
  // Other hosts that only begin with the text, and pages elsewhere on the local host.
  EXPECT_TRUE(ZeltoURL::urlIsBlockedPage("http://localhost/block/?zelto_url=x"));
  EXPECT_FALSE(ZeltoURL::urlIsBlockedPage("http://localhost@a.com/x?/block/?zelto_url="));
  EXPECT_FALSE(ZeltoURL::urlIsBlockedPage("http://localhost.a.com/block/?zelto_url=x"));
  EXPECT_FALSE(ZeltoURL::urlIsBlockedPage("http://localhost:80@a.com/block/?zelto_url=x"));
  EXPECT_FALSE(ZeltoURL::urlIsBlockedPage("http://localhost:8919/a?/block/?zelto_url=x"));
}

TEST(ZeltoURLTest, TheBlockedURLComesBackFromTheBlockPageAddress) {
  ZeltoURL zeltoURL([] { return nullptr; });
  // Punctuation, blanks, NUL, non-ASCII text and pieces of the address itself.
  std::vector<std::string> pieces;
  std::istringstream words(
      "é ß 日本 🙂 %2F %zz zelto_url= ?zelto_url=x& https://example.com/");
  for (std::string word; words >> word;) pieces.push_back(word);
  for (char c : std::string("aZ0 \t-._~/:?&=#%+'\"<>[]@!$;,")) pieces.emplace_back(1, c);
  pieces.emplace_back(1, '\0');
  std::mt19937 random(20261206);
  std::uniform_int_distribution<size_t> piece(0, pieces.size() - 1);
  std::uniform_int_distribution<int> length(0, 24);
  for (int i = 0; i < 3000; ++i) {
    std::string url = i % 2 == 0 ? "https://example.com/" : "";
    for (int n = length(random); n > 0; --n) url += pieces[piece(random)];
    auto back = ZeltoURL::getZeltoURLFromProxyURL(zeltoURL.getZeltoBlockedPageForURL(url));
    ASSERT_TRUE(back.has_value()) << url;
    ASSERT_EQ(*back, url);
  }

  EXPECT_EQ(ZeltoURL::getZeltoURLFromProxyURL("http://localhost:8919/block/"), "");
  EXPECT_EQ(ZeltoURL::getZeltoURLFromProxyURL("http://localhost:8919/block/?other=1"),
            std::nullopt);
  EXPECT_EQ(ZeltoURL::getZeltoURLFromProxyURL("http://local host/block/?zelto_url=a"),
            std::nullopt);
}

}  // namespace
}  // namespace zelto
