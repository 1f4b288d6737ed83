// The main application end to end: the built program in a private copy of the bundle, real
// origin servers on loopback, libcurl as the browser.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "Platform/FileLock.h"
#include "Support/CurlFetch.h"
#include "Support/HttpOrigin.h"
#include "Support/MainAppUnderTest.h"
#include "Support/SleepingChild.h"

namespace zelto::testing {
namespace {

using ::testing::HasSubstr;
using json = nlohmann::json;

class MainAppEndToEndTest : public ::testing::Test {
 protected:
  // `profile` in a configuration whose timer blocks for `seconds` more (none when 0).
  void startWith(json profile, double seconds = 3600, json top = json::object()) {
    top.update(seconds > 0 ? MainAppUnderTest::timer(seconds, profile)
                           : json{{"profiles", json::array({profile})}});
    app_.writeConfig(top);
    ASSERT_TRUE(app_.start()) << app_.log();
  }
  // Byte for byte, a body of 300 kB.
  bool passes(const HttpOrigin& origin) {
    Fetched got = curlFetch(origin.url("/page?size=300000"), app_.proxy());
    return got.result == CURLE_OK && got.status == 200 &&
           got.body == HttpOrigin::bodyFor("/page?size=300000");
  }
  // To this copy's block page, naming the address.
  bool redirected(const HttpOrigin& origin) {
    Fetched got = curlFetch(origin.url("/page?q=1"), app_.proxy());
    return got.status == 302 &&
           got.location == "http://localhost:" + std::to_string(app_.blockPort()) +
                               "/block/?zelto_url=http%3A%2F%2F127.0.0.1%3A" +
                               std::to_string(origin.port()) + "%2Fpage%3Fq%3D1";
  }

  MainAppUnderTest app_;
  HttpOrigin blocked_;
  HttpOrigin allowed_;
};

TEST_F(MainAppEndToEndTest, BlockingRedirectsOrRefusesBlockedSitesAndPassesTheRest) {
  // Another program holding the instance lock (flock on it) can't keep blocking from being
  // enforced.
  auto held = FileLock::tryAcquire(app_.dir() / "run/zelto.lock");
  ASSERT_TRUE(held.ok()) << held.status().message();
  startWith({{"blockedWebsites", {blocked_.pattern()}},
             {"quotes", {{{"quote", "Focus <now>"}, {"author", "Q"}}}}});
  EXPECT_TRUE(app_.logHas("is held by a program that is not Zelto; running anyway")) << app_.log();
  EXPECT_TRUE(redirected(blocked_));
  EXPECT_EQ(blocked_.hits(), 0);  // the origin never saw it
  EXPECT_TRUE(passes(allowed_));

  // (CONNECT, refused or tunnelled: ProxyAttackEndToEndTest.)

  // The block page server serves the PAC file naming the proxy's port, and the page with the
  // configuration's quote (BlockPageTest has what the page and the PAC file say).
  EXPECT_THAT(curlFetch(app_.blockBase() + "/proxy.pac").body,
              HasSubstr("PROXY 127.0.0.1:" + std::to_string(app_.proxyPort())));
  EXPECT_THAT(curlFetch(app_.blockBase() + "/block/?zelto_url=x").body,
              HasSubstr("Focus &lt;now&gt;"));

  // A damaged configuration doesn't end the block: the last good one stays.
  const size_t changes = app_.log().size();
  app_.writeConfigText("{\"zeltoType\": 1, \"profiles\": [");
  ASSERT_TRUE(eventually([&] {
    return app_.log().find("Detected preferences changed", changes) != std::string::npos;
  }));
  EXPECT_TRUE(redirected(blocked_)) << app_.log();
  // A site added while blocking runs (as `zeltoctl sites add` writes it) is blocked at once.
  app_.writeConfig(MainAppUnderTest::timer(
      3600, {{"blockedWebsites", {blocked_.pattern(), allowed_.pattern()}}}));
  EXPECT_TRUE(eventually([&] { return redirected(allowed_); })) << app_.log();
}

// A break lifts blocking and its end restores it; the scripts run at the start, at the break,
// at its end and at the end of blocking, after which everything passes.
TEST_F(MainAppEndToEndTest, ABreakAndTheEndOfBlockingRunTheirScripts) {
  const std::string marks = app_.dir() / "marks";
  startWith({{"blockedWebsites", {blocked_.pattern()}},
             {"zeltoScript", "read line; echo \"start $?\" >> " + marks},
             {"breakScript", "echo break >> " + marks},
             {"unbreakScript", "echo unbreak >> " + marks},
             {"unzeltoScript", "echo end >> " + marks + "; echo said-to-the-log"}},
            8, {{"zeltoUnbreakDate", MainAppUnderTest::in(3)}});
  EXPECT_TRUE(passes(blocked_)) << app_.log();
  EXPECT_TRUE(eventually([&] { return redirected(blocked_); })) << app_.log();
  // Scripts run side by side: the start's two may finish in either order; `read` met the end
  // of /dev/null.
  EXPECT_TRUE(eventually([&] {
    const std::string text = readWholeFile(marks);
    return text == "start 1\nbreak\nunbreak\nend\n" || text == "break\nstart 1\nunbreak\nend\n";
  })) << readWholeFile(marks);
  EXPECT_TRUE(passes(blocked_));
  EXPECT_TRUE(eventually([&] { return app_.logHas("said-to-the-log"); })) << app_.log();
}

// A restart in the middle of a period is no new start; a period that ended while the program
// was down ends at its next start.
TEST_F(MainAppEndToEndTest, RelaunchesMidPeriodStartNothingAndAMissedEndRunsAtTheNextStart) {
  const std::string marks = app_.dir() / "marks";
  const json profile = {{"zeltoScript", "echo start >> " + marks},
                        {"unzeltoScript", "echo end >> " + marks}};
  startWith(profile, 3600);
  ASSERT_TRUE(eventually([&] { return readWholeFile(marks) == "start\n"; }))
      << readWholeFile(marks);
  auto killAndStart = [&](const json& config) {
    app_.process().signal(SIGKILL);
    app_.process().waitForExit();
    app_.writeConfig(config);
    return app_.start();
  };
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(killAndStart(MainAppUnderTest::timer(3600, profile))) << app_.log();
  }
  ASSERT_TRUE(killAndStart(MainAppUnderTest::timer(-30, profile))) << app_.log();
  EXPECT_TRUE(eventually([&] { return readWholeFile(marks) == "start\nend\n"; }))
      << readWholeFile(marks);
}

// A blocked program started during blocking is ended at once, and a hidden one is frozen, then
// thawed when blocking ends (AppBlockerTest has the other names and routes a program is run by).
TEST_F(MainAppEndToEndTest, BlockedProgramsAreEndedOrFrozenAndThawed) {
  const std::string ended = app_.dir() / "ended", hidden = app_.dir() / "hidden";
  SleepingChild::copyProgram(ended);
  SleepingChild::copyProgram(hidden);
  // Past a megabyte, with a size of its own (no other test's program shares it).
  std::ofstream(ended, std::ios::app) << std::string((3 << 20) + ::getpid() % 4096, '\0');
  const json profile = {{"blockedApplications",
                         {{{"path", ended}, {"shouldHideInsteadOfQuit", false}},
                          {{"path", hidden}, {"shouldHideInsteadOfQuit", true}}}}};
  startWith(profile);
  ASSERT_TRUE(eventually([&] { return app_.logHas("Blocking phase: off -> blocking"); }));
  ChildProcess child(ended, {}, "/dev/null", {"1000"});
  ASSERT_TRUE(child.started());
  EXPECT_TRUE(eventually([&] { return !child.running(); })) << app_.log();
  SleepingChild frozen(hidden);
  EXPECT_TRUE(eventually([&] { return frozen.state() == 'T'; })) << app_.log();
  // Blocking is stopped (as `zeltoctl stop` would write it): the program runs again.
  app_.writeConfig({{"profiles", json::array({profile})}});
  EXPECT_TRUE(eventually([&] { return frozen.state() == 'S'; })) << app_.log();
  EXPECT_FALSE(frozen.ended());
}

TEST_F(MainAppEndToEndTest, ASecondInstanceSaysSoAndSigtermEndsTheFirstCleanly) {
  startWith(json::object(), 0);
  auto [status, output] = runToEnd(app_.dir() / "Zelto.app/Contents/MacOS/Zelto",
                                   app_.environment(), app_.dir().path(), {});
  EXPECT_EQ(status, 0) << output;
  EXPECT_THAT(output, HasSubstr("already running"));
  EXPECT_TRUE(passes(allowed_));  // outside blocking the first passes everything
  auto ended = app_.stop();
  ASSERT_TRUE(ended && WIFEXITED(*ended));
  EXPECT_EQ(WEXITSTATUS(*ended), 0);
}

// The application takes what zeltoctl sets at its start: the proxy's port and its own log level
// ("error" here: the port it can't listen on is told, its start is not).
TEST_F(MainAppEndToEndTest, TakesTheProxyPortAndTheLogLevelZeltoctlSets) {
  const std::string port = std::to_string(allowed_.port());  // held by the origin

  app_.writeConfig(json::object());
  for (std::vector<std::string> arguments :
       {std::vector<std::string>{"ports", "--proxy", port}, {"log-level", "error", "--app"}}) {
    auto [status, output] = runToEnd(app_.dir() / "Zelto.app/Contents/MacOS/zeltoctl",
                                     app_.environment(), app_.dir().path(), arguments);
    ASSERT_EQ(status, 0) << output;
  }
  auto app = app_.launch("zelto.err");
  ASSERT_TRUE(eventually([&] {
    return app_.logHas("Can't start the filtering proxy on port " + port + " yet");
  })) << app_.log();
  EXPECT_FALSE(app_.logHas("Loading Zelto")) << app_.log();
  app->signal(SIGTERM);
  EXPECT_TRUE(app->waitForExit().has_value());
}

}  // namespace
}  // namespace zelto::testing
