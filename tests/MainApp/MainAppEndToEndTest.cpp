// The main application end to end: the built program in a private copy of the bundle, real
// origin servers on loopback, libcurl as the browser.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
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
    json config = seconds > 0 ? MainAppUnderTest::timer(seconds) : json::object();
    config.update(top);
    config["profiles"] = json::array({std::move(profile)});
    app_.writeConfig(config);
    ASSERT_TRUE(app_.start()) << app_.log();
  }
  // Byte for byte, a body of 300 kB.
  bool passes(const HttpOrigin& origin, bool tunnel = false) {
    Fetched got = curlFetch(origin.url("/page?size=300000"), app_.proxy(), tunnel);
    return got.result == CURLE_OK && got.status == 200 &&
           got.body == HttpOrigin::bodyFor("/page?size=300000");
  }
  bool redirected(const HttpOrigin& origin) {
    Fetched got = curlFetch(origin.url("/page?q=1"), app_.proxy());
    return got.status == 302 && got.location.find("/block/?zelto_url=") != std::string::npos;
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
  Fetched got = curlFetch(blocked_.url("/page?q=1"), app_.proxy());
  EXPECT_EQ(got.status, 302) << got.error;
  EXPECT_EQ(got.location, "http://localhost:" + std::to_string(app_.blockPort()) +
                              "/block/?zelto_url=" + "http%3A%2F%2F127.0.0.1%3A" +
                              std::to_string(blocked_.port()) + "%2Fpage%3Fq%3D1");
  EXPECT_EQ(blocked_.hits(), 0);  // the origin never saw it
  EXPECT_TRUE(passes(allowed_));

  // HTTPS shows only its host: a blocked one is refused at CONNECT, an allowed one tunnels.
  Fetched refused = curlFetch(blocked_.url("/page"), app_.proxy(), true);
  EXPECT_EQ(refused.connectStatus, 403) << refused.error;
  EXPECT_EQ(blocked_.hits(), 0);
  EXPECT_TRUE(passes(allowed_, true));

  // The block page server serves the page and the PAC file only.
  Fetched pac = curlFetch(app_.blockBase() + "/proxy.pac");
  EXPECT_EQ(pac.status, 200);
  EXPECT_THAT(pac.body, HasSubstr("PROXY 127.0.0.1:" + std::to_string(app_.proxyPort())));
  Fetched page = curlFetch(app_.blockBase() + "/block/?zelto_url=http%3A%2F%2Fx.example%2F%3Cb%3E");
  EXPECT_EQ(page.status, 200);
  EXPECT_THAT(page.body, HasSubstr("http://x.example/&lt;b&gt;"));
  EXPECT_THAT(page.body, HasSubstr("Focus &lt;now&gt;"));
  EXPECT_EQ(curlFetch(app_.blockBase() + "/other").status, 404);

  // A damaged configuration doesn't end the block: the last good one stays.
  const size_t changes = app_.log().size();
  app_.writeConfigText("{\"zeltoType\": 1, \"profiles\": [");
  ASSERT_TRUE(eventually([&] {
    return app_.log().find("Detected preferences changed", changes) != std::string::npos;
  }));
  EXPECT_TRUE(redirected(blocked_)) << app_.log();
  // A site added while blocking runs (as `zeltoctl sites add` writes it) is blocked at once.
  json config = MainAppUnderTest::timer(3600);
  config["profiles"] =
      json::array({{{"blockedWebsites", {blocked_.pattern(), allowed_.pattern()}}}});
  app_.writeConfig(config);
  EXPECT_TRUE(eventually([&] { return redirected(allowed_); })) << app_.log();

  // The allow list lets only the listed through.
  config["profiles"] = json::array(
      {{{"enableWhitelistWebsites", true}, {"whitelistedWebsites", {allowed_.pattern()}}}});
  app_.writeConfig(config);
  EXPECT_TRUE(eventually([&] { return passes(allowed_); })) << app_.log();
  EXPECT_TRUE(redirected(blocked_));
  EXPECT_EQ(curlFetch(blocked_.url("/"), app_.proxy(), true).connectStatus, 403);
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
  json config = MainAppUnderTest::timer(3600);
  config["profiles"] = json::array({profile});
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(killAndStart(config)) << app_.log();
  json ended = MainAppUnderTest::timer(-30);
  ended["profiles"] = config["profiles"];
  ASSERT_TRUE(killAndStart(ended)) << app_.log();
  EXPECT_TRUE(eventually([&] { return readWholeFile(marks) == "start\nend\n"; }))
      << readWholeFile(marks);
}

// A blocked program of some size started during blocking is ended at once, whatever name or
// route it is run by: a hard link, a copy, the dynamic loader; and so is a blocked launcher
// script run by its interpreter. A hidden one is frozen, and thawed when blocking ends.
TEST_F(MainAppEndToEndTest, BlockedProgramsAreEndedUnderAnyNameOrFrozenAndThawed) {
  const std::string loader = "/lib64/ld-linux-x86-64.so.2";
  if (!std::filesystem::exists(loader)) GTEST_SKIP() << "no " << loader << " here";
  const std::string ended = app_.dir() / "ended", hidden = app_.dir() / "hidden";
  const std::string launcher = app_.dir() / "launcher", fifo = app_.dir() / "never-written";
  SleepingChild::copyProgram(ended);
  SleepingChild::copyProgram(hidden);
  // Past a megabyte, with a size of its own (no other test's program shares it).
  std::ofstream(ended, std::ios::app) << std::string((3 << 20) + ::getpid() % 4096, '\0');
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  app_.dir().write("launcher", "#!/bin/sh\nread line < '" + fifo + "'\n");
  std::filesystem::permissions(launcher, std::filesystem::perms::owner_all);
  const json profile = {{"blockedApplications",
                         {{{"path", ended}, {"shouldHideInsteadOfQuit", false}},
                          {{"path", launcher}},
                          {{"path", hidden}, {"shouldHideInsteadOfQuit", true}}}}};
  startWith(profile);
  ASSERT_TRUE(eventually([&] { return app_.logHas("Blocking phase: off -> blocking"); }));
  std::filesystem::create_hard_link(ended, app_.dir() / "link");
  std::filesystem::copy_file(ended, app_.dir() / "copy");
  const std::vector<std::vector<std::string>> runs = {{ended, "1000"},
                                                      {app_.dir() / "link", "1000"},
                                                      {app_.dir() / "copy", "1000"},
                                                      {loader, "--inhibit-cache", ended, "1000"},
                                                      {launcher}};
  for (const std::vector<std::string>& run : runs) {
    const auto startedAt = std::chrono::steady_clock::now();
    ChildProcess child(run[0], {}, "/dev/null",
                       std::vector<std::string>(run.begin() + 1, run.end()));
    ASSERT_TRUE(child.started()) << run[0];
    EXPECT_TRUE(eventually([&] { return !child.running(); })) << run[0] << app_.log();
    std::printf("%s was ended %lld ms after it started\n", run[0].c_str(),
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - startedAt)
                                           .count()));
  }
  SleepingChild frozen(hidden);
  EXPECT_TRUE(eventually([&] { return frozen.state() == 'T'; })) << app_.log();
  // Continued by hand, it is stopped again.
  ASSERT_EQ(::kill(frozen.pid(), SIGCONT), 0);
  EXPECT_TRUE(eventually([&] { return frozen.state() == 'S'; })) << app_.log();
  EXPECT_TRUE(eventually([&] { return frozen.state() == 'T'; })) << app_.log();
  // Blocking is stopped (as `zeltoctl stop` would write it): the program runs again.
  app_.writeConfig({{"profiles", json::array({profile})}});
  EXPECT_TRUE(eventually([&] { return frozen.state() == 'S'; })) << app_.log();
  EXPECT_FALSE(frozen.ended());
}

TEST_F(MainAppEndToEndTest, ASecondInstanceSaysSoAndSigtermEndsTheFirstCleanly) {
  startWith(json::object(), 0);
  auto second = app_.launch("second.err");
  auto status = second->waitForExit();
  ASSERT_TRUE(status && WIFEXITED(*status)) << readWholeFile(app_.dir() / "second.err");
  EXPECT_EQ(WEXITSTATUS(*status), 0);
  EXPECT_THAT(readWholeFile(app_.dir() / "second.err"), HasSubstr("already running"));
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
    ChildProcess zeltoctl(app_.dir() / "Zelto.app/Contents/MacOS/zeltoctl", app_.environment(),
                          app_.dir() / "zeltoctl.err", arguments);
    auto status = zeltoctl.waitForExit();
    ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
        << readWholeFile(app_.dir() / "zeltoctl.err");
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
