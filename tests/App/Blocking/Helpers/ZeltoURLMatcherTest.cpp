#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "App/Blocking/Helpers/ZeltoURLMatcher.h"

namespace zelto {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(ZeltoURLMatcherTest, PlainPatternsBecomeAddressPrefixes) {
  ZeltoURLMatcher plain("example.com");
  EXPECT_FALSE(plain.isRegex() || plain.exactMatch() || plain.priority() || plain.isWhitelisted());
  EXPECT_THAT(plain.patterns(),
              ElementsAre("example.com", "http://example.com", "https://example.com",
                          "http://www.example.com", "https://www.example.com"));

  ZeltoURLMatcher exact("example.com/");
  EXPECT_TRUE(exact.exactMatch());
  EXPECT_THAT(
      exact.patterns(),
      ElementsAre("example.com/", "http://example.com/", "https://example.com/",
                  "http://example.com", "https://example.com", "http://www.example.com/",
                  "https://www.example.com/", "http://www.example.com", "https://www.example.com"));

  EXPECT_THAT(ZeltoURLMatcher("www.example.com/").patterns(),
              ElementsAre("www.example.com/", "http://www.example.com/", "https://www.example.com/",
                          "http://www.example.com", "https://www.example.com"));
  EXPECT_THAT(ZeltoURLMatcher("https://example.com/a/").patterns(),
              ElementsAre("https://example.com/a/", "https://example.com/a"));

  // Another scheme: the pattern alone, never exact.
  ZeltoURLMatcher scheme("chrome://settings/");
  EXPECT_FALSE(scheme.exactMatch());
  EXPECT_THAT(scheme.patterns(), ElementsAre("chrome://settings/"));
  EXPECT_TRUE(scheme.isMatch("chrome://settings/privacy"));

  // A bare prefix has no host boundary.
  EXPECT_TRUE(plain.isMatch("https://www.example.com/anything"));
  EXPECT_TRUE(plain.isMatch("http://example.com.other.net/"));
  EXPECT_TRUE(plain.isMatch("http://example.community/"));
}

TEST(ZeltoURLMatcherTest, ExactPatternsAllowOnlyAQueryOrFragmentAfterTheAddress) {
  ZeltoURLMatcher exact("example.com/");
  for (const char* url : {"http://example.com", "http://example.com/", "http://example.com/?q=1",
                          "http://example.com#top", "https://www.example.com/#a", "example.com/"}) {
    EXPECT_TRUE(exact.isMatch(url)) << url;
  }
  for (const char* url :
       {"http://example.com/about", "http://example.community/", "http://example.com.evil/"}) {
    EXPECT_FALSE(exact.isMatch(url)) << url;
  }
  // The first prefix the address begins with decides: "https://example.com/a/b" begins with
  // the whole pattern, so the shorter prefix isn't tried.
  ZeltoURLMatcher path("https://example.com/a/");
  EXPECT_TRUE(path.isMatch("https://example.com/a?x"));
  EXPECT_TRUE(path.isMatch("https://example.com/a/"));
  EXPECT_FALSE(path.isMatch("https://example.com/a/b"));
  EXPECT_FALSE(path.isMatch("https://example.com/ab"));
}

TEST(ZeltoURLMatcherTest, PatternsAndURLsAreComparedLowerCased) {
  ZeltoURLMatcher mixed("Example.COM");
  EXPECT_EQ(mixed.originalPattern(), "example.com");
  EXPECT_TRUE(mixed.isMatch("HTTP://EXAMPLE.com/x"));

  ZeltoURLMatcher unicode("ÄBC.de/Ö");
  EXPECT_EQ(unicode.originalPattern(), "äbc.de/ö");
  EXPECT_TRUE(unicode.isMatch("https://WWW.äbc.DE/Öl"));
  EXPECT_FALSE(unicode.isMatch("https://abc.de/o"));

  // Regex patterns are lower-cased too: "\S" reads as "\s".
  ZeltoURLMatcher regex("/A\\Sb/");
  EXPECT_TRUE(regex.isMatch("http://x/A b"));
  EXPECT_FALSE(regex.isMatch("http://x/Axb"));
}

TEST(ZeltoURLMatcherTest, PrefixesWildcardsAndRegexForms) {
  ZeltoURLMatcher allow("+Example.com", false);
  EXPECT_TRUE(allow.priority() && allow.isWhitelisted());
  EXPECT_EQ(allow.originalPattern(), "+example.com");
  EXPECT_EQ(allow.patterns().front(), "example.com");

  ZeltoURLMatcher block("-example.com", true);
  EXPECT_TRUE(block.priority());
  EXPECT_FALSE(block.isWhitelisted());
  EXPECT_TRUE(ZeltoURLMatcher("example.com", true).isWhitelisted());
  // Only one prefix character is taken.
  EXPECT_EQ(ZeltoURLMatcher("+-x").patterns().front(), "-x");

  ZeltoURLMatcher wildcard("*.example.com");
  EXPECT_TRUE(wildcard.isRegex());
  EXPECT_THAT(wildcard.patterns(), IsEmpty());
  EXPECT_TRUE(wildcard.isMatch("https://a.example.com/"));
  EXPECT_FALSE(wildcard.isMatch("http://example.com/"));
  ZeltoURLMatcher anyPage("-example.com/*");
  EXPECT_TRUE(anyPage.isRegex() && anyPage.priority() && !anyPage.isWhitelisted());
  EXPECT_TRUE(anyPage.isMatch("https://www.example.com/x"));

  ZeltoURLMatcher regex("+/^ftp:/");
  EXPECT_TRUE(regex.isRegex() && regex.isWhitelisted());
  EXPECT_TRUE(regex.isMatch("FTP://host/"));

  // The whole replacements apply to the lower-cased pattern.
  ZeltoURLMatcher social("FaceBook.com");
  EXPECT_TRUE(social.isRegex());
  EXPECT_TRUE(social.isMatch("https://facebook.com/someone"));
  EXPECT_FALSE(social.isMatch("https://facebook.com/login.php"));
  EXPECT_FALSE(ZeltoURLMatcher("+facebook.com").isRegex());

  // Expressions that don't compile, or that hold nothing, match nothing.
  for (const char* pattern : {"/(/", "/", "//", "+//"}) {
    ZeltoURLMatcher broken(pattern);
    EXPECT_TRUE(broken.isRegex()) << pattern;
    EXPECT_FALSE(broken.regex().has_value()) << pattern;
    EXPECT_FALSE(broken.isMatch("https://example.com/")) << pattern;
  }
}

TEST(ZeltoURLMatcherTest, EmptyAndSignOnlyPatterns) {
  ZeltoURLMatcher empty("");
  EXPECT_THAT(empty.patterns(), IsEmpty());
  EXPECT_FALSE(empty.isMatch("https://example.com/"));

  // "+" and "-" alone stand for every http and https address.
  ZeltoURLMatcher all("+");
  EXPECT_TRUE(all.priority() && all.isWhitelisted());
  EXPECT_THAT(all.patterns(),
              ElementsAre("", "http://", "https://", "http://www.", "https://www."));
  EXPECT_TRUE(all.isMatch("https://example.com/"));
  EXPECT_FALSE(all.isMatch("chrome://settings"));
  EXPECT_FALSE(all.isMatch(""));
  EXPECT_TRUE(ZeltoURLMatcher("-").isMatch("http://x"));

  // Block-page addresses never match, whatever the pattern.
  EXPECT_FALSE(all.isMatch("http://localhost:8919/block/?zelto_url=https%3A%2F%2Fa.com%2F"));
  EXPECT_FALSE(ZeltoURLMatcher("/localhost/").isMatch("HTTP://LOCALHOST:1/BLOCK/?ZELTO_URL=x"));
}

}  // namespace
}  // namespace zelto
