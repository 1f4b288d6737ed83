#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "App/Blocking/Helpers/ZeltoURLMatcher.h"
#include "App/Blocking/Helpers/ZeltoURLMatcherManager.h"
#include "App/Data/Preferences/ZeltoPreferences.h"
#include "Support/LogCapture.h"

namespace zelto {
namespace {

using json = nlohmann::json;
using testing::LogCapture;

constexpr const char* kUpdating = "Zelto URL matcher is updating blocked sites";

// A manager over a record in memory (one profile) and a notification centre of its own.
class ZeltoURLMatcherManagerTest : public ::testing::Test {
 protected:
  ZeltoURLMatcherManagerTest() { prefs_.profiles.emplace_back(); }

  ProfileZeltoPreferences& profile() { return prefs_.profiles.front(); }
  void blockList(json sites) {
    profile().enableWhitelistWebsites = false;
    profile().blockedWebsites = std::move(sites);
  }
  void allowList(json sites) {
    profile().enableWhitelistWebsites = true;
    profile().whitelistedWebsites = std::move(sites);
  }
  ZeltoURLMatcherManager& start() {
    manager_ = std::make_unique<ZeltoURLMatcherManager>([this] { return record_; }, center_);
    manager_->setup();
    return *manager_;
  }
  // The decision for `url` as "blocked|allowed rank pattern".
  std::string decide(const std::string& url) {
    auto decision = manager_->decide(url);
    EXPECT_EQ(decision.blocked, manager_->shouldBlock(url)) << url;
    return std::string(decision.blocked ? "blocked " : "allowed ") + std::to_string(decision.rank) +
           " " + (decision.matcher ? decision.matcher->originalPattern() : "-");
  }

  ZeltoPreferences prefs_;
  ZeltoPreferences* record_ = &prefs_;
  NotificationCenter center_;
  std::unique_ptr<ZeltoURLMatcherManager> manager_;
};

TEST_F(ZeltoURLMatcherManagerTest, BlockListPassesInOrderOfPrecedence) {
  blockList({"news.site", "-chrome://", "+news.site/ok", "-bad.site", "+bad.site", "", 7,
             "-http://localhost", "/(unbalanced/"});
  LogCapture capture;
  ZeltoURLMatcherManager& manager = start();
  EXPECT_TRUE(capture.has(spdlog::level::info, kUpdating));

  // The eight always-allowed addresses (allowing, without priority: rank 3), then one matcher
  // per non-empty text entry.
  EXPECT_EQ(manager.matches().size(), 8u + 7u);
  EXPECT_EQ(decide("https://news.site/today"), "blocked 4 news.site");
  EXPECT_EQ(decide("https://news.site/ok/1"), "allowed 1 +news.site/ok");
  EXPECT_EQ(decide("chrome://settings"), "blocked 2 -chrome://");  // beats always-allowed
  EXPECT_EQ(decide("favorites://x"), "allowed 3 favorites://");
  EXPECT_EQ(decide("https://quarnix.com/help"), "allowed 3 quarnix.com");
  EXPECT_EQ(decide("https://bad.site/"), "allowed 1 +bad.site");  // "+x" beats "-x"
  EXPECT_EQ(decide("https://elsewhere.org/"), "allowed 5 -");
  // Block-page addresses are allowed whatever the lists say.
  EXPECT_EQ(decide("http://localhost:4000/block/?zelto_url=https%3A%2F%2Fnews.site%2F"),
            "allowed 3 -");
  EXPECT_EQ(decide("http://localhost:4000/other"), "blocked 2 -http://localhost");
}

TEST_F(ZeltoURLMatcherManagerTest, AllowListPassesAndSignOnlyPatterns) {
  allowList({"example.com", "-example.com/ads", "+chat.example.org"});
  profile().blockedWebsites = {"+other.org"};  // not the list in force
  start();
  EXPECT_TRUE(manager_->isWhitelisted());
  EXPECT_EQ(decide("https://example.com/"), "allowed 3 example.com");
  EXPECT_EQ(decide("https://example.com/ads/1"), "blocked 2 -example.com/ads");
  EXPECT_EQ(decide("https://chat.example.org/"), "allowed 1 +chat.example.org");
  EXPECT_EQ(decide("https://other.org/"), "blocked 5 -");
  EXPECT_EQ(decide("chrome://extensions"), "allowed 3 chrome://");
  // Another site dressed up as the block page is no block page.
  EXPECT_EQ(decide("http://localhost@other.org/?/block/?zelto_url=x"), "blocked 5 -");

  // "-" alone blocks every http and https address with priority; "+" alone allows them.
  allowList({"example.com", "-"});
  start();
  EXPECT_EQ(decide("https://example.com/"), "blocked 2 -");
  EXPECT_EQ(decide("opera://settings"), "allowed 3 opera://");
  blockList({"example.com", "+"});
  start();
  EXPECT_EQ(decide("https://example.com/"), "allowed 1 +");
  EXPECT_EQ(decide("ftp://example.com/"), "allowed 5 -");
}

TEST_F(ZeltoURLMatcherManagerTest, UnicodePatternsAlsoMatchTheirASCIIForm) {
  blockList({"bücher.test", "+bücher.test/frei/", "*.bücher.test/ü", "/bücher/", "-http://faß.de",
             "*ü.test", "ascii.test"});
  start();
  // Each plain or "*" pattern with non-ASCII text is followed by its ASCII form, alike in kind;
  // a regex, and a "*" inside an international label, have none.
  std::vector<std::string> patterns;
  for (size_t i = 8; i < manager_->matches().size(); ++i) {
    const ZeltoURLMatcher& m = manager_->matches()[i];
    patterns.push_back(m.originalPattern() + (m.priority() ? " priority" : "") +
                       (m.isWhitelisted() ? " allows" : "") + (m.isRegex() ? " regex" : "") +
                       (m.exactMatch() ? " exact" : ""));
  }
  EXPECT_EQ(patterns,
            (std::vector<std::string>{
                "bücher.test", "xn--bcher-kva.test", "+bücher.test/frei/ priority allows exact",
                "+xn--bcher-kva.test/frei/ priority allows exact", "*.bücher.test/ü regex",
                "*.xn--bcher-kva.test/%c3%bc regex", "/bücher/ regex", "-http://faß.de priority",
                "-http://xn--fa-hia.de priority", "*ü.test regex", "ascii.test"}));

  const std::pair<std::string, std::string> cases[] = {
      {"http://xn--bcher-kva.test/", "blocked 4 xn--bcher-kva.test"},
      {"http://bücher.test/", "blocked 4 bücher.test"},
      {"https://www.xn--bcher-kva.test/x", "blocked 4 xn--bcher-kva.test"},
      {"http://xn--bcher-kva.test/frei?x", "allowed 1 +xn--bcher-kva.test/frei/"},
      {"http://a.xn--bcher-kva.test/%C3%BC", "blocked 4 *.xn--bcher-kva.test/%c3%bc"},
      {"http://xn--fa-hia.de/", "blocked 2 -http://xn--fa-hia.de"},
      {"http://fass.de/", "allowed 5 -"},
  };
  for (const auto& [url, want] : cases) EXPECT_EQ(decide(url), want) << url;

  // In allow-list mode the ASCII form allows alike.
  allowList({"bücher.test"});
  start();
  EXPECT_EQ(decide("https://xn--bcher-kva.test/"), "allowed 3 xn--bcher-kva.test");
  EXPECT_EQ(decide("https://other.test/"), "blocked 5 -");
}

TEST_F(ZeltoURLMatcherManagerTest, EmptyListsAndNoRecord) {
  blockList(json::array());
  start();
  EXPECT_EQ(manager_->matches().size(), 8u);
  EXPECT_EQ(decide("https://example.com/"), "allowed 5 -");

  allowList({"", ""});  // empty lines allow nothing
  start();
  EXPECT_EQ(manager_->matches().size(), 8u);
  EXPECT_EQ(decide("https://example.com/"), "blocked 5 -");
  EXPECT_EQ(decide("http://localhost:8919/block/"), "allowed 3 http://localhost:8919/block/");
  EXPECT_EQ(decide("http://localhost:1/block/?zelto_url=x"), "allowed 3 -");

  // Without a record: block-list mode with the always-allowed addresses alone.
  record_ = nullptr;
  start();
  EXPECT_FALSE(manager_->isWhitelisted());
  EXPECT_EQ(manager_->matches().size(), 8u);
  EXPECT_EQ(decide("https://example.com/"), "allowed 5 -");

  // Before set-up there are no matchers: the mode alone decides.
  record_ = &prefs_;
  ZeltoURLMatcherManager fresh([this] { return record_; }, center_);
  EXPECT_TRUE(fresh.isWhitelisted());
  EXPECT_TRUE(fresh.matches().empty());
  EXPECT_TRUE(fresh.shouldBlock("chrome://settings"));
}

TEST_F(ZeltoURLMatcherManagerTest, RebuildsOnTheNotificationUntilDestroyed) {
  blockList({"example.com"});
  start();
  EXPECT_TRUE(manager_->shouldBlock("https://example.com/"));

  allowList({"example.com"});
  EXPECT_TRUE(manager_->shouldBlock("https://example.com/"));  // not until told
  center_.post("SomethingElse");
  EXPECT_TRUE(manager_->shouldBlock("https://example.com/"));
  center_.post(ZeltoURLMatcherManager::kDidUpdateBlockSettings);
  EXPECT_TRUE(manager_->isWhitelisted());
  EXPECT_EQ(decide("https://example.com/"), "allowed 3 example.com");
  EXPECT_EQ(decide("https://other.org/"), "blocked 5 -");

  LogCapture capture;
  manager_.reset();
  center_.post(ZeltoURLMatcherManager::kDidUpdateBlockSettings);
  EXPECT_EQ(capture.count(kUpdating), 0u);
}

TEST_F(ZeltoURLMatcherManagerTest, APathologicalExpressionDecidesNothing) {
  blockList({"/(a+)+$/", "blocked.site"});
  start();
  const std::string url = "http://" + std::string(5000, 'a') + "b";
  LogCapture capture;
  for (int i = 0; i < 2; ++i) {
    auto decision = manager_->decide(url);  // finishing at all is the point
    EXPECT_FALSE(decision.blocked);
    EXPECT_EQ(decision.rank, 5);
    EXPECT_EQ(decision.matcher, nullptr);
  }
  EXPECT_EQ(capture.countStartingWith("Regex \"(a+)+$\" gave up on a URL"), 1u);
  EXPECT_EQ(decide("https://blocked.site/"), "blocked 4 blocked.site");
}

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
}

TEST(ZeltoURLMatcherTest, WhatEachKindOfPatternMatches) {
  struct Case {
    const char* pattern;
    const char* url;
    bool matches;
  };
  const Case cases[] = {
      {"chrome://settings/", "chrome://settings/privacy", true},
      // A bare prefix has no host boundary.
      {"example.com", "https://www.example.com/anything", true},
      {"example.com", "http://example.com.other.net/", true},
      {"example.com", "http://example.community/", true},
      // An exact pattern allows only a query or fragment after the address.
      {"example.com/", "http://example.com", true},
      {"example.com/", "http://example.com/", true},
      {"example.com/", "http://example.com/?q=1", true},
      {"example.com/", "http://example.com#top", true},
      {"example.com/", "https://www.example.com/#a", true},
      {"example.com/", "example.com/", true},
      {"example.com/", "http://example.com/about", false},
      {"example.com/", "http://example.community/", false},
      {"example.com/", "http://example.com.evil/", false},
      // The first prefix the address begins with decides: "https://example.com/a/b" begins with
      // the whole pattern, so the shorter prefix isn't tried.
      {"https://example.com/a/", "https://example.com/a?x", true},
      {"https://example.com/a/", "https://example.com/a/", true},
      {"https://example.com/a/", "https://example.com/a/b", false},
      {"https://example.com/a/", "https://example.com/ab", false},
      // Patterns and addresses are compared lower-cased; in an expression "\S" reads as "\s".
      {"Example.COM", "HTTP://EXAMPLE.com/x", true},
      {"ÄBC.de/Ö", "https://WWW.äbc.DE/Öl", true},
      {"ÄBC.de/Ö", "https://abc.de/o", false},
      {"/A\\Sb/", "http://x/A b", true},
      {"/A\\Sb/", "http://x/Axb", false},
      // Wildcards and expressions, with their prefixes.
      {"*.example.com", "https://a.example.com/", true},
      {"*.example.com", "http://example.com/", false},
      {"-example.com/*", "https://www.example.com/x", true},
      {"+/^ftp:/", "FTP://host/", true},
      // The whole replacements apply to the lower-cased pattern.
      {"FaceBook.com", "https://facebook.com/someone", true},
      {"FaceBook.com", "https://facebook.com/login.php", false},
      {"FaceBook.com", "https://facebook.com/dialog/share", false},
      {"FaceBook.com", "https://www.facebook.com/v2.2/x", false},
      // Expressions that don't compile, or that hold nothing, and empty patterns match nothing.
      {"/(/", "https://example.com/", false},
      {"/", "https://example.com/", false},
      {"//", "https://example.com/", false},
      {"+//", "https://example.com/", false},
      {"", "https://example.com/", false},
      // "+" and "-" alone stand for every http and https address.
      {"+", "https://example.com/", true},
      {"+", "chrome://settings", false},
      {"+", "", false},
      {"-", "http://x", true},
      // Block-page addresses never match, whatever the pattern.
      {"+", "http://localhost:8919/block/?zelto_url=https%3A%2F%2Fa.com%2F", false},
      {"/localhost/", "HTTP://LOCALHOST:1/BLOCK/?ZELTO_URL=x", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ZeltoURLMatcher(c.pattern).isMatch(c.url), c.matches) << c.pattern << " " << c.url;
  }
}

TEST(ZeltoURLMatcherTest, PrefixesCaseWildcardsAndRegexForms) {
  EXPECT_EQ(ZeltoURLMatcher("Example.COM").originalPattern(), "example.com");
  EXPECT_EQ(ZeltoURLMatcher("ÄBC.de/Ö").originalPattern(), "äbc.de/ö");
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
  ZeltoURLMatcher anyPage("-example.com/*");
  EXPECT_TRUE(anyPage.isRegex() && anyPage.priority() && !anyPage.isWhitelisted());
  ZeltoURLMatcher regex("+/^ftp:/");
  EXPECT_TRUE(regex.isRegex() && regex.isWhitelisted());
  EXPECT_TRUE(ZeltoURLMatcher("FaceBook.com").isRegex());
  EXPECT_FALSE(ZeltoURLMatcher("+facebook.com").isRegex());
  for (const char* pattern : {"/(/", "/", "//", "+//"}) {
    ZeltoURLMatcher broken(pattern);
    EXPECT_TRUE(broken.isRegex()) << pattern;
    EXPECT_FALSE(broken.regex().has_value()) << pattern;
  }

  EXPECT_THAT(ZeltoURLMatcher("").patterns(), IsEmpty());
  ZeltoURLMatcher all("+");
  EXPECT_TRUE(all.priority() && all.isWhitelisted());
  EXPECT_THAT(all.patterns(),
              ElementsAre("", "http://", "https://", "http://www.", "https://www."));
}

}  // namespace
}  // namespace zelto
