#include <gtest/gtest.h>

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

  // The always-allowed addresses first, then one matcher per non-empty text entry.
  const auto& matches = manager.matches();
  ASSERT_EQ(matches.size(), 8u + 7u);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(matches[i].originalPattern(), ZeltoURLMatcherManager::alwaysAllowedAddresses()[i]);
    EXPECT_TRUE(matches[i].isWhitelisted());
    EXPECT_FALSE(matches[i].priority());
  }
  EXPECT_EQ(matches[8].originalPattern(), "news.site");
  EXPECT_FALSE(matches[8].isWhitelisted());
  EXPECT_EQ(matches.back().originalPattern(), "/(unbalanced/");

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
  for (const auto& [url, want] : cases) {
    EXPECT_EQ(decide(url), want) << url;
    const auto walked = manager_->decideByWalking(url);
    EXPECT_EQ(walked.matcher, manager_->decide(url).matcher) << url;
  }

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

}  // namespace
}  // namespace zelto
