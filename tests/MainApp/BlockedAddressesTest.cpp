#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <optional>

#include "MainApp/BlockedAddresses.h"
#include "Support/FakeClock.h"
#include "Support/FakeHostResolver.h"
#include "Support/FakeRunLoop.h"

namespace zelto {
namespace {

using Hosts = std::vector<std::string>;

class BlockedAddressesTest : public ::testing::Test {
 protected:
  FakeClock clock;
  FakeRunLoop loop{clock};
  testing::FakeHostResolver resolver{loop};
};

TEST(BlockedAddressesPatternTest, PlainHostOfEachPattern) {
  const std::pair<std::string, std::string> cases[] = {
      {"example.com", "example.com"},
      {"www.Example.COM", "www.example.com"},
      {"  example.org\t", "example.org"},
      {"example.com.", "example.com"},
      {"http://example.com/path", "example.com"},
      {"HTTPS://user:pw@example.com:8443/x?y#z", "example.com"},
      {"example.com:8080/x", "example.com"},
      {"-blocked.com", "blocked.com"},
      {"-https://blocked.com/", "blocked.com"},
      {"*.example.net", "example.net"},
      {"localhost", "localhost"},
      {"bücher.example", "xn--bcher-kva.example"},
  };
  for (const auto& [pattern, host] : cases) {
    EXPECT_EQ(BlockedAddresses::plainHost(pattern), host) << pattern;
  }
  for (const std::string pattern :
       {"+allowed.com", "example*.com", "/exam.le/", "192.0.2.2", "http://192.0.2.2:8080/",
        "0x7f.1", "[2001:db8::1]:443", "chrome://settings", "", "-", "http://", "two words.com",
        "a..b.com", "bad\x01.com", "\xff\xfe.com"}) {
    EXPECT_EQ(BlockedAddresses::plainHost(pattern), std::nullopt) << pattern;
  }
  EXPECT_EQ(BlockedAddresses::plainHost(std::string(64, 'a') + ".com"), std::nullopt);
  EXPECT_EQ(BlockedAddresses::plainHost(std::string(300, 'a')), std::nullopt);
}

TEST_F(BlockedAddressesTest, TellsTheListedHostsAtAnAddress) {
  resolver.setAddresses("a.test", {"192.0.2.1", "2001:db8::1"});
  resolver.setAddresses("b.test", {"192.0.2.1"});
  resolver.setAddresses("c.test", {"192.0.2.3"});
  resolver.setAddresses("d.test", {"127.0.0.1", "0.0.0.0", "::1", "192.0.2.4"});
  resolver.setFailure("e.test", "Timeout while contacting DNS servers");
  BlockedAddresses blocked(loop, resolver);
  int changes = 0;
  blocked.onChange([&] { ++changes; });
  blocked.setPatterns({"a.test", "-B.test", "+c.test", "http://d.test/x", "e.test", "a.test/y"});
  loop.advance(2);

  EXPECT_EQ(blocked.hostCount(), 4u);
  EXPECT_EQ(resolver.lookups(), 4u) << "each host once, the allowed one never";
  EXPECT_EQ(changes, 1) << "learned together, announced together";
  struct Case {
    std::string address;
    Hosts hosts;
  } cases[] = {
      {"192.0.2.1", {"a.test", "b.test"}}, {"::ffff:192.0.2.1", {"a.test", "b.test"}},
      {"2001:db8::1", {"a.test"}},         {"[2001:DB8:0::1]", {"a.test"}},
      {"192.0.2.4", {"d.test"}},
  };
  for (const Case& c : cases) EXPECT_EQ(blocked.hostsAt(c.address), c.hosts) << c.address;
  // Allowed; loopback and unspecified answers are no host's address; no address.
  for (const std::string& address :
       std::vector<std::string>{"192.0.2.3", "127.0.0.1", "0.0.0.0", "::1", "192.0.2.99", "a.test",
                                "", "[]", std::string(100, '1')}) {
    EXPECT_EQ(blocked.hostsAt(address), Hosts{}) << address;
  }
}

TEST_F(BlockedAddressesTest, FiftyThousandHostsArePacedAndRefreshed) {
  resolver.setDefaultAddresses({"192.0.2.9"});
  std::vector<double> begun;
  resolver.onLookup([&](const std::string&) { begun.push_back(clock.monotonicSeconds()); });
  BlockedAddresses blocked(loop, resolver);
  std::vector<std::string> patterns;
  for (int i = 0; i < 50'000; ++i) patterns.push_back("site" + std::to_string(i) + ".test");
  const double start = clock.monotonicSeconds();
  blocked.setPatterns(patterns);

  loop.advance(599);
  EXPECT_EQ(begun.size(), 50'000u) << "all looked up once within the refresh period";
  EXPECT_EQ(resolver.lookups("site0.test"), 1u);
  EXPECT_EQ(resolver.lookups("site49999.test"), 1u);
  EXPECT_EQ(blocked.hostsAt("192.0.2.9").size(), 50'000u);
  loop.advance(590);
  EXPECT_EQ(begun.size(), 100'000u) << "and all again after it";
  EXPECT_EQ(resolver.lookups("site49999.test"), 2u);
  EXPECT_GE(begun[50'000] - start, 600.0);

  // Any 101 lookups in a row span at least a second, any 11 a tenth of one (no bursts); every
  // simulated second stays in bound.
  for (size_t i = 0; i + 100 < begun.size(); ++i) {
    ASSERT_GE(begun[i + 100] - begun[i], 1.0 - 1e-9) << "lookups " << i << " to " << i + 100;
    ASSERT_GE(begun[i + 10] - begun[i], 0.1 - 1e-9) << "lookups " << i << " to " << i + 10;
  }
  std::map<long, int> perSecond;
  for (double t : begun) ++perSecond[std::lround(std::floor(t - start))];
  for (const auto& [second, count] : perSecond) ASSERT_LE(count, 100) << "second " << second;
}

TEST_F(BlockedAddressesTest, NeverMoreLookupsUnderWayThanAllowed) {
  resolver.hold(true);
  BlockedAddresses blocked(loop, resolver, {.lookupsPerSecond = 1000, .maxInFlight = 16});
  std::vector<std::string> patterns;
  for (int i = 0; i < 100; ++i) patterns.push_back("host" + std::to_string(i) + ".test");
  blocked.setPatterns(patterns);
  for (int round = 0; round < 10 && resolver.lookups() < 100; ++round) {
    loop.advance(1);
    EXPECT_EQ(resolver.pending(), std::min<size_t>(16, 100 - 16 * round)) << "round " << round;
    resolver.release();
  }
  EXPECT_EQ(resolver.lookups(), 100u);
}

TEST_F(BlockedAddressesTest, RefreshFollowsChangedAnswersAndKeepsAddressesThroughFailures) {
  resolver.setAddresses("moved.test", {"192.0.2.1"});
  resolver.setAddresses("flaky.test", {"192.0.2.2"});
  BlockedAddresses blocked(loop, resolver, {.refreshSeconds = 60});
  int changes = 0;
  blocked.onChange([&] { ++changes; });
  blocked.setPatterns({"moved.test", "flaky.test"});
  loop.advance(1);
  ASSERT_EQ(changes, 1);

  resolver.setAddresses("moved.test", {"192.0.2.10"});
  resolver.setFailure("flaky.test", "Timeout while contacting DNS servers");
  loop.advance(59.5);  // the refresh, and the announcement a moment later
  EXPECT_EQ(resolver.lookups("moved.test"), 2u);
  EXPECT_EQ(blocked.hostsAt("192.0.2.1"), Hosts{});
  EXPECT_EQ(blocked.hostsAt("192.0.2.10"), Hosts{"moved.test"});
  EXPECT_EQ(blocked.hostsAt("192.0.2.2"), Hosts{"flaky.test"});
  EXPECT_EQ(changes, 2);

  loop.advance(60);  // the same answers: nothing new to announce
  EXPECT_EQ(resolver.lookups("moved.test"), 3u);
  EXPECT_EQ(changes, 2);
}

TEST_F(BlockedAddressesTest, HostsNoLongerListedAreForgottenAtOnce) {
  resolver.setAddresses("kept.test", {"192.0.2.1"});
  resolver.setAddresses("dropped.test", {"192.0.2.1", "192.0.2.2"});
  BlockedAddresses blocked(loop, resolver);
  blocked.setPatterns({"kept.test", "dropped.test"});
  loop.advance(1);
  ASSERT_EQ(blocked.hostsAt("192.0.2.1"), (Hosts{"dropped.test", "kept.test"}));

  blocked.setPatterns({"kept.test", "+dropped.test"});
  EXPECT_EQ(blocked.hostsAt("192.0.2.1"), Hosts{"kept.test"});
  EXPECT_EQ(blocked.hostsAt("192.0.2.2"), Hosts{});
  EXPECT_EQ(blocked.hostCount(), 1u);

  // One dropped while its lookup is under way (and another still waiting) is never recorded.
  resolver.hold(true);
  std::vector<std::string> many = {"kept.test"};
  for (int i = 0; i < 40; ++i) many.push_back("late" + std::to_string(i) + ".test");
  resolver.setDefaultAddresses({"192.0.2.3"});
  blocked.setPatterns(many);
  loop.advance(1);
  ASSERT_EQ(resolver.pending(), 16u);
  blocked.setPatterns({"kept.test"});
  EXPECT_EQ(resolver.pending(), 0u) << "the lookups were cancelled";
  resolver.release();
  loop.advance(5);
  EXPECT_EQ(blocked.hostsAt("192.0.2.3"), Hosts{});
  EXPECT_EQ(resolver.lookups(), 2u + 16u) << "the waiting ones were never looked up";

  // Listed again, a host is looked up again.
  resolver.hold(false);
  blocked.setPatterns({"kept.test", "dropped.test"});
  loop.advance(1);
  EXPECT_EQ(resolver.lookups("dropped.test"), 2u);
  EXPECT_EQ(blocked.hostsAt("192.0.2.2"), Hosts{"dropped.test"});

  // An answer still due when hosts are listed before its own lands on its host all the same.
  resolver.hold(true);
  resolver.setAddresses("zzz.test", {"192.0.2.9"});
  blocked.setPatterns({"kept.test", "zzz.test"});
  loop.advance(1);
  blocked.setPatterns({"aaa.test", "kept.test", "zzz.test"});
  resolver.release();
  loop.advance(5);
  EXPECT_EQ(blocked.hostsAt("192.0.2.9"), Hosts{"zzz.test"});
  EXPECT_EQ(blocked.hostsAt("192.0.2.1"), Hosts{"kept.test"});
}

TEST_F(BlockedAddressesTest, InactiveLooksNothingUpAndKeepsWhatItKnows) {
  resolver.setAddresses("early.test", {"192.0.2.1"});
  resolver.setAddresses("late.test", {"192.0.2.2"});
  BlockedAddresses blocked(loop, resolver, {.refreshSeconds = 600});
  blocked.setActive(false);
  blocked.setPatterns({"early.test"});
  loop.advance(10);
  EXPECT_EQ(resolver.lookups(), 0u);

  blocked.setActive(true);
  loop.advance(1);
  ASSERT_EQ(blocked.hostsAt("192.0.2.1"), Hosts{"early.test"});

  blocked.setActive(false);
  blocked.setPatterns({"early.test", "late.test"});
  loop.advance(2000);  // past several refreshes
  EXPECT_EQ(resolver.lookups(), 1u);
  EXPECT_EQ(blocked.hostsAt("192.0.2.1"), Hosts{"early.test"});
  EXPECT_EQ(loop.scheduledTimers(), 1u) << "only the refresh timer is left";

  blocked.setActive(true);  // the refresh that fell due runs now, after the new host
  loop.advance(1);
  EXPECT_EQ(resolver.lookups("late.test"), 1u);
  EXPECT_EQ(resolver.lookups("early.test"), 2u);
  EXPECT_EQ(blocked.hostsAt("192.0.2.2"), Hosts{"late.test"});
}

}  // namespace
}  // namespace zelto
