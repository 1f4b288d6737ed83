// The guard against the real programs that read what it writes: run as root in a private mount
// namespace whose /etc/hosts and /etc/chromium/policies/managed are the test's own (bound over
// the real ones, so nothing of the machine is touched), with a lock sent by a user's zeltoctl.
// There `getent` resolves a blocked host to nothing, and Chromium started with no proxy setting
// at all blocks an HTTPS path itself and reaches a blocked HTTP host only as the guard's block
// page, with no Zelto program of the user running; hand edits are undone, and at the end
// everything is gone.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "Platform/LocalSocket.h"
#include "Support/HeadlessChromium.h"
#include "Support/HttpOrigin.h"
#include "Support/MainAppUnderTest.h"

namespace zelto::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using json = nlohmann::json;
using std::chrono::milliseconds;

constexpr uid_t kNobody = 65534;
const std::string kBundle = ZELTO_TEST_REAL_APP_DIR "/Contents/MacOS/";

class GuardSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "the guard runs as root";
    for (const char* needed :
         {"/usr/bin/unshare", "/usr/bin/nsenter", kChromium, "/etc/chromium"}) {
      if (!std::filesystem::exists(needed)) GTEST_SKIP() << needed << " is missing";
    }
    address_ = MainAppUnderTest::networkAddress();
    if (!address_) GTEST_SKIP() << "no network address besides loopback to serve the sites on";
    std::filesystem::permissions(dir_.path(), std::filesystem::perms(0755));
    dir_.write("root/etc/hosts", kHosts);
    std::filesystem::create_directories(dir_ / "root/etc/chromium/policies/managed");
    std::filesystem::create_directories(dir_ / "home");
    ASSERT_EQ(::chown((dir_ / "home").c_str(), kNobody, kNobody), 0);
    const std::string root = dir_ / "root", policies = "/etc/chromium/policies/managed";
    // The guard's hosts file is a mount point, as /etc/hosts is in a container, and the same
    // file stands at /etc/hosts for every program of the namespace.
    const std::string script =
        "set -e; mount --bind " + root + "/etc/hosts " + root + "/etc/hosts; mount --bind " + root +
        "/etc/hosts /etc/hosts; mount -t tmpfs tmpfs /etc/chromium; mkdir -p " + policies +
        "; mount --bind " + root + policies + " " + policies + "; exec " + kBundle +
        "zelto-guard --root " + root + " --socket " + socket() + " --proxy-port " +
        std::to_string(proxyPort_);
    guard_ = std::make_unique<ChildProcess>(
        "/usr/bin/unshare", Environment{}, dir_ / "guard.err",
        std::vector<std::string>{"--mount", "--propagation", "private", "sh", "-c", script});
    ASSERT_TRUE(eventually([&] { return status().contains("ok"); })) << log();
  }

  std::string socket() const { return dir_ / "guard.sock"; }
  std::string log() const { return readWholeFile(dir_ / "guard.err"); }
  json status() {
    auto answer =
        LocalSocket::exchange(socket(), R"({"request": "status", "uid": 65534})", 10, 1 << 20);
    return answer ? json::parse(*answer, nullptr, false) : json::object();
  }
  // A program run inside the guard's mount namespace.
  std::vector<std::string> inside() const {
    return {"/usr/bin/nsenter", "--mount", "--target", std::to_string(guard_->pid()), "--"};
  }
  std::string hostsSeenInside(const std::string& host) {
    return runToEnd(
               "/usr/bin/nsenter", {}, dir_.path(),
               {"--mount", "--target", std::to_string(guard_->pid()), "getent", "ahostsv4", host})
        .second;
  }
  std::string policyFile() const {
    return dir_ / "root/etc/chromium/policies/managed/zelto-guard.json";
  }

  static constexpr const char* kHosts = "127.0.0.1 localhost\n::1 localhost\n";
  TempDir dir_;
  std::optional<std::string> address_;
  int proxyPort_ = MainAppUnderTest::freePort();
  std::unique_ptr<ChildProcess> guard_;
};

TEST_F(GuardSystemTest, ALockHoldsInTheBrowserAndTheResolverUntilItsEndAndHandEditsAreUndone) {
  HttpOrigin blocked(*address_), allowed(*address_);
  json config = {
      {"profiles",
       {{{"blockedWebsites", {"blocked.test", "secure.test/private", blocked.pattern()}}}}}};
  dir_.write("home/.local/share/Zelto/default.cfg", config.dump());
  std::error_code ignored;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_ / "home", ignored)) {
    ::lchown(entry.path().c_str(), kNobody, kNobody);
  }
  auto [code, out] =
      runToEnd(kBundle + "zeltoctl", {{"HOME", dir_ / "home"}, {"ZELTO_GUARD_SOCKET", socket()}},
               dir_.path(), {"start", "--for", "30m", "--hardcore", "--must-complete"},
               UserIds{kNobody, kNobody});
  ASSERT_EQ(code, 0) << out;
  ASSERT_THAT(out, HasSubstr("Locked by the system guard")) << log();

  EXPECT_THAT(hostsSeenInside("blocked.test"), HasSubstr("0.0.0.0")) << log();
  EXPECT_THAT(hostsSeenInside("www.blocked.test"), HasSubstr("0.0.0.0"));

  // No proxy setting of the browser's own: the guard's policies set one.
  const std::string browser = dir_ / "browser";
  std::filesystem::create_directories(browser);
  // Written before the guard answered the lock.
  ASSERT_TRUE(std::filesystem::exists(policyFile()));
  EXPECT_THAT(refusedLoad(browser, "https://secure.test/private", inside()),
              HasSubstr("ERR_BLOCKED_BY_ADMINISTRATOR"));
  const std::string http = browse(browser, blocked.url("/news"), {}, "", inside());
  EXPECT_THAT(http, HasSubstr("Blocked by Zelto")) << log();
  EXPECT_EQ(blocked.hits(), 0);
  EXPECT_THAT(browse(browser, allowed.url("/html"), {}, "", inside()),
              HasSubstr("The origin's own page"));

  // Hand edits, undone.
  std::ofstream(dir_ / "root/etc/hosts", std::ios::trunc) << kHosts;
  std::filesystem::remove(policyFile());
  auto since = std::chrono::steady_clock::now();
  auto took = [&since] {
    return static_cast<long long>(
        std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - since).count());
  };
  EXPECT_TRUE(eventually([&] {
    return readWholeFile(dir_ / "root/etc/hosts").find("blocked.test") != std::string::npos &&
           std::filesystem::exists(policyFile());
  })) << log();
  std::printf("Hand edits undone in %lld ms\n", took());

  // The end: root ends it, and everything the guard wrote goes.
  ASSERT_EQ(runToEnd(kBundle + "zeltoctl", {{"ZELTO_GUARD_SOCKET", socket()}}, dir_.path(),
                     {"guard", "release", "--user", "65534"})
                .first,
            0);
  since = std::chrono::steady_clock::now();
  EXPECT_TRUE(eventually([&] {
    return readWholeFile(dir_ / "root/etc/hosts") == kHosts &&
           !std::filesystem::exists(policyFile());
  })) << log();
  std::printf("Everything gone in %lld ms\n", took());
  EXPECT_THAT(hostsSeenInside("blocked.test"), Not(HasSubstr("0.0.0.0")));
}

}  // namespace
}  // namespace zelto::testing
