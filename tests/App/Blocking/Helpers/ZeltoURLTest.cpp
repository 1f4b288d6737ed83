#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "App/Blocking/Helpers/ZeltoURL.h"
#include "App/Data/Preferences/ZeltoPreferences.h"

namespace zelto {
namespace {

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
