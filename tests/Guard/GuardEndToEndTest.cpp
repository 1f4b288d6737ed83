// End to end: the built guard, run as root against a temporary root, and a user's zeltoctl talking
// to it as that user. The kernel tells the guard who asks; nothing the user does to their own
// files or to the guard's socket loosens or ends the lock; a restart takes it up again.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>

#include "Platform/LocalSocket.h"
#include "Support/ChildProcess.h"
#include "Support/MainAppUnderTest.h"
#include "Support/TempDir.h"

namespace zelto::testing {
namespace {

using json = nlohmann::json;

constexpr uid_t kNobody = 65534;
const std::string kBundle = ZELTO_TEST_REAL_APP_DIR "/Contents/MacOS/";

class GuardEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "the guard runs as root";
    std::filesystem::create_directories(dir_ / "home");
    for (const std::string& path : {dir_.path(), dir_ / "home"}) {
      ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
    }
    startGuard();
  }

  void startGuard() {
    guard_ = std::make_unique<ChildProcess>(
        kBundle + "zelto-guard", Environment{}, dir_ / "guard.err",
        std::vector<std::string>{"--root", dir_ / "root", "--socket", socket(), "--proxy-port",
                                 std::to_string(proxyPort_)});
    // A socket left by a guard killed before may still stand: wait for an answer.
    ASSERT_TRUE(eventually([&] { return ask(R"({"request": "status"})").contains("ok"); }))
        << readWholeFile(dir_ / "guard.err");
  }
  std::string socket() const { return dir_ / "guard.sock"; }

  // zeltoctl run as `user` with a home in the test's folder.
  std::pair<int, std::string> zeltoctl(std::vector<std::string> arguments, uid_t user = kNobody) {
    return runToEnd(kBundle + "zeltoctl",
                    {{"HOME", dir_ / "home"},
                     {"ZELTO_GUARD_SOCKET", socket()},
                     {"XDG_DATA_HOME", std::nullopt},
                     {"XDG_CONFIG_HOME", std::nullopt},
                     {"XDG_STATE_HOME", std::nullopt}},
                    dir_.path(), std::move(arguments), UserIds{user, user});
  }
  // The guard's answer to raw bytes, sent as root.
  json ask(const std::string& bytes) {
    auto answer = LocalSocket::exchange(socket(), bytes, 10, 1 << 20);
    return answer ? json::parse(*answer, nullptr, false)
                  : json{{"failed", answer.status().message()}};
  }
  json statusOfNobody() { return ask(R"({"request": "status", "uid": 65534})"); }

  // The guard's proxies running now: processes whose command line names this test's folder.
  int proxies() const {
    int found = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      const std::string line = readWholeFile(entry.path().string() + "/cmdline");
      found += line.find("--guard-proxy") != std::string::npos &&
               line.find(dir_.path()) != std::string::npos;
    }
    return found;
  }

  TempDir dir_;
  int proxyPort_ = MainAppUnderTest::freePort();
  std::unique_ptr<ChildProcess> guard_;
};

TEST_F(GuardEndToEndTest, AUsersLockHoldsThroughTheirEditsAndAGuardRestartUntilRootEndsIt) {
  auto [code, out] = zeltoctl({"start", "--for", "30m", "--hardcore", "--must-complete"});
  ASSERT_EQ(code, 0) << out;
  EXPECT_NE(out.find("Locked by the system guard until"), std::string::npos) << out;
  EXPECT_TRUE(std::filesystem::exists(dir_ / "root/var/lib/zelto-guard/65534.json"));
  EXPECT_EQ(statusOfNobody()["locked"], true);
  EXPECT_EQ(ask(R"({"request": "status"})")["locked"], false);  // root's own: none

  std::tie(code, out) = zeltoctl({"guard", "status"});
  EXPECT_NE(out.find("The system guard holds your block locked until"), std::string::npos) << out;
  // The user's own record, edited to end the block, tells the guard nothing.
  std::filesystem::remove_all(dir_ / "home/.local/share/Zelto");
  std::tie(code, out) = zeltoctl({"guard", "release", "--user", "65534"});
  EXPECT_EQ(code, 1);
  EXPECT_NE(out.find("Only root ends a lock"), std::string::npos) << out;
  EXPECT_EQ(statusOfNobody()["locked"], true);

  // Killed, the guard takes its proxy with it, and started again (as at boot) takes the lock up.
  ASSERT_TRUE(eventually([&] { return proxies() == 1; })) << readWholeFile(dir_ / "guard.err");
  guard_->signal(SIGKILL);
  guard_->waitForExit();
  EXPECT_TRUE(eventually([&] { return proxies() == 0; }));
  startGuard();
  EXPECT_EQ(statusOfNobody()["locked"], true);
  EXPECT_TRUE(eventually([&] { return proxies() == 1; }));

  std::tie(code, out) = zeltoctl({"guard", "release", "--user", "65534"}, 0);
  EXPECT_EQ(code, 0) << out;
  EXPECT_EQ(statusOfNobody()["locked"], false);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "root/var/lib/zelto-guard/65534.json"));
  EXPECT_EQ(proxies(), 0);
}

TEST_F(GuardEndToEndTest, HostileRequestsGetAnErrorAndChangeNothing) {
  ASSERT_EQ(zeltoctl({"start", "--for", "30m", "--hardcore", "--must-complete"}).first, 0);
  const json before = statusOfNobody();
  // Read as GuardLockTest reads them; here through the socket, and nothing changes.
  const std::string hostile[] = {"\x01\x02garbage", std::string(100'000, '['),
                                 R"({"request": "release", "uid": 65534, "then": "rm -rf /"})"};
  for (const std::string& bytes : hostile) {
    const json answer = ask(bytes);
    EXPECT_EQ(answer["ok"], false) << bytes.substr(0, 80);
    EXPECT_TRUE(answer["error"].is_string());
  }
  // Past the bound the guard stops reading and closes the connection.
  EXPECT_FALSE(LocalSocket::exchange(socket(), std::string(17 << 20, ' '), 10, 1 << 20).ok());
  EXPECT_EQ(statusOfNobody(), before);
  EXPECT_TRUE(guard_->running());
}

// The application hands a locked period to the guard when it finds one, and again when it tightens.
TEST_F(GuardEndToEndTest, TheApplicationHandsItsLockedPeriodOverAndEachTighteningAfter) {
  MainAppUnderTest app;
  json config = MainAppUnderTest::timer(1800, {{"blockedWebsites", {"a.com"}}});
  config["zeltoHardcoreMode"] = config["zeltoMustCompleteSession"] = true;
  app.writeConfig(config);
  // The application started here finds this guard.
  const std::string before = std::getenv("ZELTO_GUARD_SOCKET");
  ::setenv("ZELTO_GUARD_SOCKET", socket().c_str(), 1);
  const bool started = app.start();
  ::setenv("ZELTO_GUARD_SOCKET", before.c_str(), 1);
  ASSERT_TRUE(started) << app.log();
  auto lockOfRoot = [&] { return ask(R"({"request": "status"})").value("lock", json()); };
  ASSERT_TRUE(eventually([&] { return !lockOfRoot().is_null(); })) << app.log();
  EXPECT_EQ(lockOfRoot()["blockedSites"], json({"a.com"}));
  EXPECT_EQ(lockOfRoot()["proxyPort"], app.proxyPort());

  config["profiles"][0]["blockedWebsites"].push_back("b.com");
  app.writeConfig(config);
  EXPECT_TRUE(eventually([&] { return lockOfRoot()["blockedSites"].size() == 2; })) << app.log();
  EXPECT_TRUE(app.logHas("The system guard holds the locked period until"));
}

}  // namespace
}  // namespace zelto::testing
