#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Guard/BrowserPolicies.h"

namespace zelto {
namespace {

using nlohmann::json;
using Texts = std::vector<std::string>;

Enforcement sample() {
  Enforcement e;
  e.hosts = {"a.test"};
  e.urlBlocklist = {"*", ".a.test", "http://.a.test:80/p"};
  e.urlAllowlist = {".b.test/docs", "http://.localhost/block/"};
  e.proxyPort = 8118;
  return e;
}

TEST(BrowserPoliciesTest, ChromiumGetsTheProxyNoDnsOverHttpsAndTheFilters) {
  const json policies = json::parse(BrowserPolicies::chromium(sample()));
  EXPECT_EQ(policies["ProxySettings"]["ProxyMode"], "fixed_servers");
  EXPECT_EQ(policies["ProxySettings"]["ProxyServer"], "127.0.0.1:8118");
  EXPECT_NE(policies["ProxySettings"]["ProxyBypassList"].get<std::string>().find("127.0.0.1"),
            std::string::npos);
  EXPECT_EQ(policies["DnsOverHttpsMode"], "off");
  EXPECT_EQ(policies["URLBlocklist"], json(sample().urlBlocklist));
  EXPECT_EQ(policies["URLAllowlist"], json(sample().urlAllowlist));

  Enforcement noProxy = sample();
  noProxy.proxyPort = 0;
  EXPECT_FALSE(json::parse(BrowserPolicies::chromium(noProxy)).contains("ProxySettings"));
}

TEST(BrowserPoliciesTest, FirefoxPatternsNeverBlockMoreThanTheFilter) {
  EXPECT_EQ(
      BrowserPolicies::firefoxPatterns(
          {"*", ".a.test", "a.test", "https://.a.test", "http://.a.test:80/p", "chrome://*"}, true),
      (Texts{"<all_urls>", "*://a.test/*", "*://*.a.test/*", "https://a.test/*"}));
  // An exception may be wider.
  EXPECT_EQ(BrowserPolicies::firefoxPatterns(
                {"http://.localhost/block/", ".b.test/docs", "http://.a.test:80/p"}, false),
            (Texts{"http://localhost/block/*", "*://b.test/docs*", "http://a.test/p*"}));
}

TEST(BrowserPoliciesTest, FirefoxKeepsTheAdministratorsPolicies) {
  const std::string original = R"({"policies": {"DisableAppUpdate": true,
      "Proxy": {"Mode": "none"}, "WebsiteFilter": {"Block": ["*://mine.test/*"]}}, "x": 1})";
  const json merged = json::parse(BrowserPolicies::firefox(sample(), original));
  const json& policies = merged["policies"];
  EXPECT_EQ(merged["x"], 1);
  EXPECT_EQ(policies["DisableAppUpdate"], true);
  EXPECT_EQ(policies["Proxy"]["Mode"], "manual");
  EXPECT_EQ(policies["Proxy"]["Locked"], true);
  EXPECT_EQ(policies["Proxy"]["HTTPProxy"], "127.0.0.1:8118");
  EXPECT_EQ(policies["DNSOverHTTPS"], json({{"Enabled", false}, {"Locked", true}}));
  EXPECT_EQ(policies["WebsiteFilter"]["Block"],
            json({"*://mine.test/*", "<all_urls>", "*://a.test/*"}));
  EXPECT_EQ(policies["WebsiteFilter"]["Exceptions"],
            json({"*://b.test/docs*", "http://localhost/block/*"}));

  // What isn't an object of policies is not read: the guard's stand alone.
  for (const std::string& unread :
       Texts{"{not json", "[1]", R"({"policies": 3})", std::string(9000, '[')}) {
    const json alone = json::parse(BrowserPolicies::firefox(sample(), unread));
    EXPECT_EQ(alone.size(), 1u) << unread.substr(0, 20);
    EXPECT_EQ(alone["policies"]["Proxy"]["HTTPProxy"], "127.0.0.1:8118");
  }
}

}  // namespace
}  // namespace zelto
