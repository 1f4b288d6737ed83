#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "Platform/ClockChangeWatcher.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Support/FakeClock.h"
#include "Support/OpenDescriptors.h"
#include "Support/RunLoopUntil.h"

namespace zelto {
namespace {

constexpr double kYear = 365.25 * 24 * 60 * 60;

// The one descriptor open now that was not open `before`, when there is exactly one and it is a
// timer; else -1.
int newTimer(const std::set<int>& before) {
  std::vector<int> added;
  for (int fd : testing::openDescriptors()) {
    if (!before.contains(fd)) added.push_back(fd);
  }
  std::error_code error;
  return added.size() == 1 &&
                 std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(added[0]),
                                               error) == "anon_inode:[timerfd]"
             ? added[0]
             : -1;
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

TEST(ClockChangeWatcherTest, TheTimerIsSetACenturyAfterNowWhateverTheDateAndHeldUntilTheWatchGoes) {
  UvRunLoop loop;
  const double realNow = SystemClock().now().secondsSince1970();
  // Past 2038 the timer must still lie ahead; at the far end it stops where the kernel can count.
  for (double now : {realNow, realNow + 20 * kYear, Date::distantFuture().secondsSince1970()}) {
    FakeClock clock(Date::fromSecondsSince1970(now));
    const auto before = testing::openDescriptors();
    auto watch = ClockChangeWatcher::watch(
        loop, [] {}, clock);
    ASSERT_TRUE(watch.ok()) << watch.status().message();
    const int timer = newTimer(before);
    ASSERT_GE(timer, 0);
    const double expected = std::min(now + 100 * kYear, 9223372036.0) - realNow;
    EXPECT_NEAR(secondsLeft(timer), expected, 60) << now;
    watch->reset();
    EXPECT_EQ(testing::openDescriptors(), before);
  }
}

TEST(ClockChangeWatcherTest, AnExpiredTimerIsSetAgainWithoutReportingAChange) {
  UvRunLoop loop;
  // "Now" a century ago: the first timer expires at once, as if the clock had run past it.
  FakeClock clock(Date::fromSecondsSince1970(SystemClock().now().secondsSince1970() - 100 * kYear));
  int changes = 0;
  const auto before = testing::openDescriptors();
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
