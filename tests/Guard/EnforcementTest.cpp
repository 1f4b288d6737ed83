#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Guard/Enforcement.h"

namespace zelto {
namespace {

using Texts = std::vector<std::string>;

struct LockLists {
  bool allowListMode = false;
  Texts sites;
};

struct Case {
  const char* name;
  std::vector<LockLists> locks;
  Texts hosts, blocked, allowed;
};

const Texts kAlwaysAllowed = {".quarnix.com", ".www.quarnix.com", "chrome://*",
                              "http://.localhost/block/"};

Texts with(Texts a, const Texts& b) {
  a.insert(a.end(), b.begin(), b.end());
  std::sort(a.begin(), a.end());
  return a;
}

TEST(EnforcementTest, TranslatesOnlyWhatHasAnExactEquivalent) {
  const std::vector<Case> cases = {
      {"a host and its www form",
       {{false, {"Example.com"}}},
       {"example.com"},
       {".example.com", ".www.example.com"},
       {}},
      {"a www host has no second www",
       {{false, {"www.example.com"}}},
       {"www.example.com"},
       {".www.example.com"},
       {}},
      {"a path: its prefix at the default ports",
       {{false, {"example.com/news"}}},
       {},
       {"http://.example.com:80/news", "http://.www.example.com:80/news",
        "https://.example.com:443/news", "https://.www.example.com:443/news"},
       {}},
      {"a scheme: that scheme only, no hosts",
       {{false, {"https://example.com"}}},
       {},
       {"https://.example.com"},
       {}},
      {"subdomains alone would reach the host too", {{false, {"*.example.com"}}}, {}, {}, {}},
      {"subdomains with the host blocked",
       {{false, {"*.example.com", "example.com"}}},
       {"example.com"},
       {".example.com", ".www.example.com", "example.com"},
       {}},
      {"left to the proxy",
       {{false,
         {"/face.*book/", "example.com/", "example.com:8080", "ex*ample.com", "facebook.com",
          "bücher.test", "192.168.1.1", "chrome://settings", "", "+", "a.test/%41", "a..test"}}},
       {},
       {},
       {}},
      {"a + pattern keeps its host out",
       {{false, {"example.com", "+example.com/ok", "b.org"}}},
       {"b.org"},
       {".b.org", ".www.b.org"},
       {}},
      {"a + pattern that names a host's start", {{false, {"example.com", "+exam"}}}, {}, {}, {}},
      {"a + expression leaves the lock to the proxy",
       {{false, {"example.com", "+/exa/"}}},
       {},
       {},
       {}},
      {"the product's site is allowed ahead of plain blocks",
       {{false, {"quarnix.com"}}},
       {},
       {},
       {}},
      {"but not ahead of - blocks",
       {{false, {"-quarnix.com"}}},
       {"quarnix.com"},
       {".quarnix.com", ".www.quarnix.com"},
       {}},
      {"the block page's host never", {{false, {"localhost", "-localhost"}}}, {}, {}, {}},
      {"allow-list mode",
       {{true, {"example.com", "docs.site.org/guide", "*.wiki.org", "-example.com/private"}}},
       {},
       {"*", "http://.example.com:80/private", "http://.www.example.com:80/private",
        "https://.example.com:443/private", "https://.www.example.com:443/private"},
       with({".docs.site.org/guide", ".example.com", ".www.docs.site.org/guide", ".www.example.com",
             "wiki.org"},
            kAlwaysAllowed)},
      {"allow-list mode with an allowed expression",
       {{true, {"example.com", "/exa/"}}},
       {},
       {},
       {}},
      {"union: a site one lock blocks stays blocked",
       {{false, {"example.com"}}, {true, {"example.com"}}},
       {"example.com"},
       {"*", ".example.com", ".www.example.com"},
       kAlwaysAllowed},
  };
  for (const Case& c : cases) {
    std::vector<GuardLock> locks;
    for (const LockLists& lists : c.locks) {
      GuardLock lock;
      lock.allowListMode = lists.allowListMode;
      (lists.allowListMode ? lock.allowedSites : lock.blockedSites) = lists.sites;
      locks.push_back(lock);
    }
    const Enforcement out = Enforcement::of(locks, 8118);
    EXPECT_EQ(out.hosts, c.hosts) << c.name;
    EXPECT_EQ(out.urlBlocklist, c.blocked) << c.name;
    EXPECT_EQ(out.urlAllowlist, c.allowed) << c.name;
    EXPECT_EQ(out.proxyPort, 8118) << c.name;
  }
}

TEST(EnforcementTest, AnAllowListTooLongForTheBrowsersBlocksNothingThere) {
  GuardLock lock;
  lock.allowListMode = true;
  for (int i = 0; i < 600; ++i) lock.allowedSites.push_back("site" + std::to_string(i) + ".org");
  const Enforcement out = Enforcement::of({lock}, 0);
  EXPECT_TRUE(out.urlBlocklist.empty());
  EXPECT_TRUE(out.urlAllowlist.empty());
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(Enforcement::of({}, 70000).proxyPort, 0);
}

}  // namespace
}  // namespace zelto
