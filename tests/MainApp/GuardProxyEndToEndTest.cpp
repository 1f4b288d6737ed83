// The application's --guard-proxy mode end to end: the built program, real origin servers on
// loopback, libcurl as the browser, and a raw client for CONNECT.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "App/Guard/GuardLock.h"
#include "Platform/Clock.h"
#include "Support/ChildProcess.h"
#include "Support/CurlFetch.h"
#include "Support/HttpOrigin.h"
#include "Support/MainAppUnderTest.h"
#include "Support/NestedText.h"
#include "Support/TempDir.h"

namespace zelto::testing {
namespace {

using ::testing::HasSubstr;
using json = nlohmann::json;

// A lock running for another hour and a half (the page then says "1 hour", however slow the test).
json lock(std::vector<std::string> blocked, std::vector<std::string> allowed = {}) {
  GuardLock held;
  held.end = SystemClock().now().addingTimeInterval(5400);
  held.allowListMode = !allowed.empty();
  held.blockedSites = std::move(blocked);
  held.allowedSites = std::move(allowed);
  return held.toJson();
}

class GuardProxyEndToEndTest : public ::testing::Test {
 protected:
  static std::string program() {
    return std::string(ZELTO_TEST_REAL_APP_DIR) + "/Contents/MacOS/Zelto";
  }

  // Replaces the locks file at once, as the guard does.
  void writeText(const std::string& text) {
    std::filesystem::rename(dir_.write("locks.tmp", text), dir_ / "locks.json");
  }
  void writeLocks(const std::vector<json>& locks) { writeText(json{{"locks", locks}}.dump()); }

  // Starts the mode and waits until both of its servers listen.
  void start() {
    proxy_ = std::make_unique<ChildProcess>(
        program(), Environment{{"HOME", dir_ / "home"}}, dir_ / "proxy.err",
        std::vector<std::string>{"--guard-proxy", "--port", std::to_string(port_), "--page-port",
                                 std::to_string(pagePort_), "--locks", dir_ / "locks.json"});
    ASSERT_TRUE(eventually([&] {
      return logHas("Filtering proxy listening on") && logHas("Block page served at");
    })) << log();
  }
  // SIGHUP, and the file read again (well or not) after `since` bytes of the log.
  void reload() {
    const size_t since = log().size();
    proxy_->signal(SIGHUP);
    ASSERT_TRUE(eventually([&] {
      const std::string text = log().substr(since);
      return text.find("Deciding with") != std::string::npos ||
             text.find("Keeping the") != std::string::npos;
    })) << log();
  }

  std::string log() const { return readWholeFile(dir_ / "proxy.err"); }
  bool logHas(const std::string& text) const { return log().find(text) != std::string::npos; }
  std::string proxy() const { return "http://127.0.0.1:" + std::to_string(port_); }

  bool passes(const HttpOrigin& origin) {
    Fetched got = curlFetch(origin.url("/page?q=1"), proxy());
    return got.result == CURLE_OK && got.status == 200 &&
           got.body == HttpOrigin::bodyFor("/page?q=1");
  }
  // What the proxy answers the CONNECT for an https address of `origin`.
  long connectStatus(const HttpOrigin& origin) {
    return curlFetch("https://" + origin.pattern() + "/", proxy()).connectStatus;
  }
  // To this process's block page, naming the address.
  bool redirected(const HttpOrigin& origin) {
    Fetched got = curlFetch(origin.url("/page?q=1"), proxy());
    return got.status == 302 && got.location == "http://localhost:" + std::to_string(pagePort_) +
                                                    "/block/?zelto_url=http%3A%2F%2F127.0.0.1%3A" +
                                                    std::to_string(origin.port()) +
                                                    "%2Fpage%3Fq%3D1";
  }

  TempDir dir_;
  int port_ = MainAppUnderTest::freePort();
  int pagePort_ = MainAppUnderTest::freePort();
  HttpOrigin blocked_;
  HttpOrigin allowed_;
  std::unique_ptr<ChildProcess> proxy_;
};

TEST_F(GuardProxyEndToEndTest, BlocksWhatTheLocksBlockAndPassesTheRest) {
  writeLocks({lock({blocked_.pattern()})});
  start();
  EXPECT_TRUE(redirected(blocked_)) << log();
  EXPECT_EQ(blocked_.hits(), 0);
  EXPECT_TRUE(passes(allowed_)) << log();
  EXPECT_EQ(connectStatus(blocked_), 403);
  EXPECT_EQ(connectStatus(allowed_), 200);

  // The page the redirect names, from this process, saying how long the lock holds.
  Fetched page = curlFetch("http://127.0.0.1:" + std::to_string(pagePort_) +
                           "/block/?zelto_url=http%3A%2F%2Fblocked.test%2F");
  EXPECT_EQ(page.status, 200);
  EXPECT_THAT(page.body, HasSubstr("http://blocked.test/"));
  EXPECT_THAT(page.body, HasSubstr("The locked block ends in 1 hour"));
  // Nothing of the user's application: no home, record or state touched.
  EXPECT_FALSE(std::filesystem::exists(dir_ / "home"));
}

TEST_F(GuardProxyEndToEndTest, SighupRereadsTheFileAndADamagedOneKeepsTheLocksHeld) {
  writeText("{\"locks\": [");  // damaged from the start: runs, blocking nothing yet
  start();
  EXPECT_TRUE(logHas("No locks to decide with")) << log();
  EXPECT_TRUE(passes(blocked_));

  writeLocks({lock({blocked_.pattern()})});
  reload();
  EXPECT_TRUE(redirected(blocked_)) << log();

  // Each damaged file is refused with its cause, and the lock read before stays in force.
  json badLock = lock({"a.test"});
  badLock["blockedSites"] = "a.test";
  struct Row {
    std::string text;
    const char* cause;
  };
  const std::vector<Row> rows = {
      {"{\"locks\": [", "is no JSON"},
      {"\xff\xfe", "is no JSON"},
      {nested("[", "]", 100'000), "nesting deeper"},
      {std::string(70 << 20, ' '), "Larger than"},
      {"[]", "not an object"},
      {"{\"locks\": {}}", "\"locks\" is missing or not a list"},
      {json{{"locks", json::array()}, {"more", 1}}.dump(), "keys other than"},
      {json{{"locks", {lock({"b.test"}), badLock}}}.dump(), "lock 2: \"blockedSites\""},
  };
  for (const Row& row : rows) {
    const size_t since = log().size();
    writeText(row.text);
    reload();
    EXPECT_THAT(log().substr(since), HasSubstr(row.cause)) << row.cause;
    EXPECT_TRUE(redirected(blocked_)) << row.cause;
  }
  std::filesystem::remove(dir_ / "locks.json");
  reload();
  EXPECT_EQ(occurrences(log(), "Keeping the 1 locks held: "), rows.size() + 1) << log();
  EXPECT_TRUE(redirected(blocked_));

  // An allow-list lock in its place: all but its site blocked.
  writeLocks({lock({}, {blocked_.pattern()})});
  reload();
  EXPECT_TRUE(passes(blocked_)) << log();
  EXPECT_TRUE(redirected(allowed_)) << log();
  EXPECT_EQ(connectStatus(allowed_), 403);
  EXPECT_TRUE(proxy_->running());
}

TEST(GuardProxyOptionsTest, TheModeIsInTheHelpAndBadOptionsAreRefused) {
  TempDir dir;
  const std::string program = std::string(ZELTO_TEST_REAL_APP_DIR) + "/Contents/MacOS/Zelto";
  auto [helpStatus, help] = runToEnd(program, {}, dir.path(), {"--help"});
  EXPECT_EQ(helpStatus, 0);
  EXPECT_THAT(help, HasSubstr("--guard-proxy --port PORT --locks FILE"));
  struct Row {
    std::vector<std::string> arguments;
    const char* says;
  };
  const std::vector<Row> rows = {
      {{"--guard-proxy", "--locks", "f"}, "needs --port and --locks"},
      {{"--guard-proxy", "--port", "8000"}, "needs --port and --locks"},
      {{"--guard-proxy", "--port", "0", "--locks", "f"}, "--port 0 is no port"},
      {{"--guard-proxy", "--port", "65536", "--locks", "f"}, "--port 65536 is no port"},
      {{"--guard-proxy", "--port", "80x", "--locks", "f"}, "--port 80x is no port"},
      {{"--guard-proxy", "--port", "80", "--page-port", "-1", "--locks", "f"}, "is no port"},
      {{"--guard-proxy", "--port", "80", "--locks"}, "--locks needs a value"},
      {{"--guard-proxy", "--port", "80", "--record", "x"}, "unknown option --record"},
  };
  for (const Row& row : rows) {
    auto [status, output] = runToEnd(program, {}, dir.path(), row.arguments);
    EXPECT_EQ(status, 2) << row.says;
    EXPECT_THAT(output, HasSubstr(row.says));
  }
}

}  // namespace
}  // namespace zelto::testing
