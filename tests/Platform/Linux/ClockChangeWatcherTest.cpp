#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "Platform/ClockChangeWatcher.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Support/FakeClock.h"
#include "Support/RunLoopUntil.h"

namespace zelto {
namespace {

constexpr double kYear = 365.25 * 24 * 60 * 60;

std::set<int> openDescriptors() {
  std::set<int> fds;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    fds.insert(std::stoi(entry.path().filename().string()));
  }
  return fds;
}

std::set<int> openTimers() {
  std::set<int> timers;
  for (int fd : openDescriptors()) {
    std::error_code error;
    auto target = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
    if (!error && target == "anon_inode:[timerfd]") timers.insert(fd);
  }
  return timers;
}

// The one timer open now that was not open `before`, or -1.
int newTimer(const std::set<int>& before) {
  int found = -1;
  for (int fd : openTimers()) {
    if (!before.contains(fd)) found = fd;
  }
  return found;
}

// Seconds until the timer expires, as the kernel reports it (0 when it is not set).
long long secondsLeft(int timer) {
  std::ifstream info("/proc/self/fdinfo/" + std::to_string(timer));
  std::string line;
  while (std::getline(info, line)) {
    if (line.starts_with("it_value: (")) return std::stoll(line.substr(11));
  }
  return -1;
}

TEST(ClockChangeWatcherTest, AWatchHoldsOneDescriptorUntilDestroyed) {
  UvRunLoop loop;
  const size_t before = openDescriptors().size();
  auto watch = ClockChangeWatcher::watch(loop, [] {});
  ASSERT_TRUE(watch.ok()) << watch.status().message();
  EXPECT_EQ(openDescriptors().size(), before + 1);
  watch->reset();
  EXPECT_EQ(openDescriptors().size(), before);
}

TEST(ClockChangeWatcherTest, TheTimerIsSetACenturyAfterNowWhateverTheDate) {
  UvRunLoop loop;
  const double realNow = SystemClock().now().secondsSince1970();
  // Past 2038 the timer must still lie ahead; at the far end it stops where the kernel can count.
  for (double now : {realNow, realNow + 20 * kYear, Date::distantFuture().secondsSince1970()}) {
    FakeClock clock(Date::fromSecondsSince1970(now));
    const auto before = openTimers();
    auto watch = ClockChangeWatcher::watch(
        loop, [] {}, clock);
    ASSERT_TRUE(watch.ok()) << watch.status().message();
    const int timer = newTimer(before);
    ASSERT_GE(timer, 0);
    const double expected = std::min(now + 100 * kYear, 9223372036.0) - realNow;
    EXPECT_NEAR(secondsLeft(timer), expected, 60) << now;
  }
}

TEST(ClockChangeWatcherTest, AnExpiredTimerIsSetAgainWithoutReportingAChange) {
  UvRunLoop loop;
  // "Now" a century ago: the first timer expires at once, as if the clock had run past it.
  FakeClock clock(Date::fromSecondsSince1970(SystemClock().now().secondsSince1970() - 100 * kYear));
  int changes = 0;
  const auto before = openTimers();
  auto watch = ClockChangeWatcher::watch(
      loop, [&] { ++changes; }, clock);
  ASSERT_TRUE(watch.ok()) << watch.status().message();
  const int timer = newTimer(before);
  ASSERT_GE(timer, 0);
  clock.advance(100 * kYear);
  EXPECT_TRUE(testing::runLoopUntil(loop, [&] { return secondsLeft(timer) > 90 * kYear; }));
  EXPECT_EQ(changes, 0);
}

}  // namespace
}  // namespace zelto
