#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "Platform/Url.h"

namespace zelto {
namespace {

using Opt = std::optional<std::string>;

// Every component of a parsed reference: scheme, host, port, path, query and fragment.
using Reading = std::tuple<Opt, Opt, std::optional<int>, std::string, Opt, Opt>;

Reading read(const Url& url) {
  return {url.scheme(), url.host(), url.port(), url.path(), url.query(), url.fragment()};
}

TEST(UrlTest, ComponentsAreAsWrittenAndPresentOnlyWhenInTheText) {
  const Opt none;
  const std::vector<std::pair<std::string, Reading>> cases = {
      {"http://a.com", {"http", "a.com", {}, "", none, none}},
      {"http://a.com/", {"http", "a.com", {}, "/", none, none}},
      {"http://a.com?", {"http", "a.com", {}, "", "", none}},
      {"http://a.com/#", {"http", "a.com", {}, "/", none, ""}},
      {"HTTP://u:p@WWW.A.com:8080/P/../%7e?x=1&y#f/g",
       {"HTTP", "WWW.A.com", 8080, "/P/../%7e", "x=1&y", "f/g"}},
      {"http://a.com/x#y?z", {"http", "a.com", {}, "/x", none, "y?z"}},
      {"http://a.com:/x", {"http", "a.com", {}, "/x", none, none}},
      {"http://[::1]:80/x", {"http", "[::1]", 80, "/x", none, none}},
      {"https://é.com/é?é#é", {"https", "é.com", {}, "/é", "é", "é"}},
      {"chrome://settings/", {"chrome", "settings", {}, "/", none, none}},
      {"file:///etc/hosts", {"file", "", {}, "/etc/hosts", none, none}},
      {"//a.com", {none, "a.com", {}, "", none, none}},
      {"//a.com:81/x?q", {none, "a.com", 81, "/x", "q", none}},
      // The host read: escapes decoded, IPv4 in any form as four numbers, the last "@" ending
      // the userinfo.
      {"http://0x7f.1/", {"http", "127.0.0.1", {}, "/", none, none}},
      {"http://2130706433:8/", {"http", "127.0.0.1", 8, "/", none, none}},
      {"http://1.2.3.999/", {"http", "1.2.3.999", {}, "/", none, none}},
      {"http://%62.com/", {"http", "b.com", {}, "/", none, none}},
      {"http://a@b@c.com/", {"http", "c.com", {}, "/", none, none}},
      {"file://localhost/etc", {"file", "", {}, "/etc", none, none}},
      // Without an authority: a path, then a query and a fragment.
      {"x", {none, none, {}, "x", none, none}},
      {"x?", {none, none, {}, "x", "", none}},
      {"example.com/a?b#c", {none, none, {}, "example.com/a", "b", "c"}},
      {"a?b?c#d#e", {none, none, {}, "a", "b?c", "d#e"}},
      {"", {none, none, {}, "", none, none}},
      {"1a:b", {none, none, {}, "1a:b", none, none}},  // a scheme begins with a letter
      // A scheme without an authority, as browsers read it.
      {"localhost:8919/x", {"localhost", none, {}, "8919/x", none, none}},
      {"mailto:a@b.c?subject=x", {"mailto", none, {}, "a@b.c", "subject=x", none}},
  };
  for (const auto& [text, expected] : cases) {
    Result<Url> url = Url::parse(text);
    ASSERT_TRUE(url.ok()) << url.status().message();
    EXPECT_EQ(read(*url), expected) << text;
    EXPECT_EQ(url->absoluteString(), text);
  }
}

TEST(UrlTest, RefusesWhatIsNoUrlNamingTheText) {
  for (const std::string& text :
       std::vector<std::string>{"http://a.com:99999/", "http://a b.com/", " http://a.com/", "a\tb",
                                std::string("a\0b", 3), "https:/a.com", "http:///a.com",
                                "chrome://", "http://u@/", "http://a.com:8x/", "http://a%2fb.com/",
                                "http://a<b.com/", "http://[::g]/", "http://[::1/"}) {
    Result<Url> url = Url::parse(text);
    EXPECT_FALSE(url.ok()) << text;
    EXPECT_TRUE(url.status().message().starts_with("\"" + text + "\" is not a URL: "))
        << url.status().message();
  }
  // A long text is quoted only in part, so that one odd URL can't flood the log.
  const std::string longText = "http://a.com/" + std::string(1'000'000, 'x') + " ";
  Result<Url> url = Url::parse(longText);
  ASSERT_FALSE(url.ok());
  EXPECT_LT(url.status().message().size(), 400u);
}

TEST(UrlTest, PercentDecodeDecodesEveryEscapeAndKeepsTheRest) {
  EXPECT_EQ(Url::percentDecode("a%20b+c%2Bd"), "a b+c+d");
  EXPECT_EQ(Url::percentDecode("%c3%A9"), "é");
  EXPECT_EQ(Url::percentDecode("%zz%4g%4"), "%zz%4g%4");
  EXPECT_EQ(Url::percentDecode("%%41%"), "%A%");
}

TEST(UrlTest, PercentDecodeUndoesPercentEncodeForAnyBytes) {
  std::mt19937 random(20261206);
  const std::string awkward = std::string("%+&=# ?/\0", 9) + "é日";
  for (int i = 0; i < 4000; ++i) {
    std::string text;
    const int length = std::uniform_int_distribution<int>(0, 40)(random);
    for (int j = 0; j < length; ++j) {
      if (random() % 2 == 0) {
        text += static_cast<char>(random() % 256);
      } else {
        text += awkward[random() % awkward.size()];
      }
    }
    const std::string encoded = Url::percentEncode(text);
    ASSERT_EQ(encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                        "0123456789-._~%"),
              std::string::npos)
        << encoded;
    ASSERT_EQ(Url::percentDecode(encoded), text) << encoded;
  }
}

TEST(UrlTest, LongTextsAreEncodedAndDecodedWhole) {
  // Long texts, with escapes at every offset.
  for (int shift = 0; shift < 4; ++shift) {
    std::string encoded(shift, 'x');
    std::string decoded(shift, 'x');
    for (int i = 0; i < 700'000; ++i) {
      encoded += "%%41";
      decoded += "%A";
    }
    ASSERT_EQ(Url::percentDecode(encoded), decoded) << "shift " << shift;
  }
  std::string bytes;
  for (int i = 0; i < 3'000'000; ++i) bytes += static_cast<char>(i * 7 % 256);
  EXPECT_EQ(Url::percentDecode(Url::percentEncode(bytes)), bytes);
}

TEST(UrlTest, QueryParameters) {
  using Map = std::map<std::string, std::string>;
  EXPECT_EQ(Url::queryParameters("a=1&b=x%20y"), (Map{{"a", "1"}, {"b", "x y"}}));
  EXPECT_EQ(Url::queryParameters("a=1&a=2"), (Map{{"a", "1"}}));
  EXPECT_EQ(Url::queryParameters("&a&&b=&"), (Map{{"a", ""}, {"b", ""}}));
  EXPECT_EQ(Url::queryParameters("k=v=w&%3D=%26"), (Map{{"k", "v=w"}, {"=", "&"}}));
  EXPECT_EQ(Url::queryParameters("a+b=c+d"), (Map{{"a+b", "c+d"}}));
  EXPECT_EQ(Url::queryParameters("=x"), (Map{{"", "x"}}));
}

}  // namespace
}  // namespace zelto
