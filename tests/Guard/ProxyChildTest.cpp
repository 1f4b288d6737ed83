// The guard's proxy child: run unprivileged, kept running, ended without a trace.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "Guard/ProxyChild.h"
#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Support/ChildProcess.h"
#include "Support/CurlFetch.h"
#include "Support/HttpOrigin.h"
#include "Support/LogCapture.h"
#include "Support/MainAppUnderTest.h"
#include "Support/RunLoopUntil.h"
#include "Support/TempDir.h"

namespace zelto::testing {
namespace {

using ::testing::HasSubstr;

// The field `name` of /proc/PID/status ("Uid", "Groups", ...) as it stands there, its values
// tab-separated; empty when the process is gone.
std::string statusField(pid_t pid, const std::string& name) {
  const std::string text = "\n" + readWholeFile("/proc/" + std::to_string(pid) + "/status");
  const size_t at = text.find("\n" + name + ":\t");
  if (at == std::string::npos) return {};
  const size_t from = at + name.size() + 3;
  return text.substr(from, text.find('\n', from) - from);
}

bool gone(pid_t pid) { return !std::filesystem::exists("/proc/" + std::to_string(pid)); }

class ProxyChildTest : public ::testing::Test {
 protected:
  ProxyChildTest() {
    // The unprivileged child must be able to read the locks.
    std::filesystem::permissions(dir_.path(), std::filesystem::perms::owner_all |
                                                  std::filesystem::perms::group_exec |
                                                  std::filesystem::perms::others_exec);
    GuardLock lock;
    lock.end = SystemClock().now().addingTimeInterval(3600);
    lock.blockedSites = {blocked_.pattern()};
    dir_.write("locks.json", ProxyChild::locksJson({lock}).dump());
    options_.programPath = std::string(ZELTO_TEST_REAL_APP_DIR) + "/Contents/MacOS/Zelto";
    options_.port = MainAppUnderTest::freePort();
    options_.locksFile = dir_ / "locks.json";
    options_.outputFd = log_.get();
  }

  // The proxy at the port decides with the locks: a blocked origin is sent to the block page.
  bool proxyBlocks() {
    Fetched got = curlFetch(blocked_.url(), "http://127.0.0.1:" + std::to_string(options_.port));
    return got.status == 302;
  }
  std::string log() const { return readWholeFile(dir_ / "child.log"); }

  TempDir dir_;
  FileDescriptor log_{
      ::open((dir_ / "child.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)};
  HttpOrigin blocked_;
  UvRunLoop loop_;
  ProxyChild::Options options_;
};

TEST_F(ProxyChildTest, RunsUnprivilegedIsRestartedWhenKilledAndLeavesNothingWhenStopped) {
  if (::geteuid() != 0) GTEST_SKIP() << "runs the proxy as another user: needs root";
  Result<ProxyChild::Account> account = ProxyChild::unprivilegedAccount();
  ASSERT_TRUE(account.ok()) << account.status().message();
  EXPECT_NE(account->uid, 0u);
  options_.uid = account->uid;
  options_.gid = account->gid;
  ProxyChild child(loop_, options_);
  ASSERT_TRUE(child.start().ok());
  ASSERT_TRUE(runLoopUntil(
      loop_, [&] { return proxyBlocks(); }, 20))
      << log();

  const pid_t first = child.pid();
  const std::string uid = std::to_string(account->uid), gid = std::to_string(account->gid);
  EXPECT_EQ(statusField(first, "Uid"), uid + "\t" + uid + "\t" + uid + "\t" + uid);
  EXPECT_EQ(statusField(first, "Gid"), gid + "\t" + gid + "\t" + gid + "\t" + gid);
  EXPECT_EQ(statusField(first, "Groups").find_first_not_of(" \t"), std::string::npos);  // none
  EXPECT_EQ(statusField(first, "NoNewPrivs"), "1");

  ASSERT_TRUE(child.reload().ok());
  EXPECT_TRUE(runLoopUntil(loop_, [&] { return occurrences(log(), "Deciding with 1 locks") == 2; }))
      << log();

  ::kill(first, SIGKILL);
  ASSERT_TRUE(runLoopUntil(
      loop_, [&] { return child.pid() > 0 && child.pid() != first && proxyBlocks(); }, 20))
      << log();
  EXPECT_EQ(child.starts(), 2);
  const pid_t second = child.pid();

  child.stop();
  EXPECT_EQ(child.pid(), -1);
  EXPECT_TRUE(gone(first));
  EXPECT_TRUE(gone(second));
  // No restart follows a stop.
  EXPECT_FALSE(runLoopUntil(
      loop_, [&] { return child.starts() > 2; }, 1.5));
}

TEST_F(ProxyChildTest, AChildThatDiesAtStartIsRestartedAtMostOncePerSecond) {
  options_.programPath = "/bin/false";
  ProxyChild child(loop_, options_);
  ASSERT_TRUE(child.start().ok());
  const double began = SystemClock().monotonicSeconds();
  ASSERT_TRUE(runLoopUntil(
      loop_, [&] { return child.starts() == 3; }, 20));
  // Two restarts, each a second after the start before.
  EXPECT_GE(SystemClock().monotonicSeconds() - began, 2 * ProxyChild::kRestartSeconds - 0.05);
}

TEST_F(ProxyChildTest, AStartThatCantHappenIsReportedAndTriedAgain) {
  struct Row {
    const char* name;
    std::string program;
    std::optional<uid_t> uid;
    const char* says;
  };
  const std::vector<Row> rows = {
      {"no such program", dir_ / "missing", std::nullopt, "No such file"},
      {"a user without a group", "/bin/true", 65534, "needs its group"},
  };
  for (const Row& row : rows) {
    options_.programPath = row.program;
    options_.uid = row.uid;
    LogCapture logs;
    ProxyChild child(loop_, options_);
    Status started = child.start();
    ASSERT_FALSE(started.ok()) << row.name;
    EXPECT_THAT(started.message(), HasSubstr(row.says)) << row.name;
    EXPECT_THAT(started.message(), HasSubstr(row.program)) << row.name;
    EXPECT_EQ(child.pid(), -1) << row.name;
    EXPECT_FALSE(child.reload().ok()) << row.name;
    EXPECT_TRUE(runLoopUntil(loop_, [&] {
      return logs.countStartingWith("Can't start the guard's proxy") == 2;
    })) << row.name;
  }
}

}  // namespace
}  // namespace zelto::testing
