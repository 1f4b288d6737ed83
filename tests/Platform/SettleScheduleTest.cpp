#include <gtest/gtest.h>

#include <tuple>

#include "Platform/SettleSchedule.h"
#include "Support/FakeRunLoop.h"

namespace zelto {
namespace {

// Looks counted over 10 s of simulated time; starts noticed every 5 ms (no pause between them)
// during the first second must not put the first look off.
TEST(SettleScheduleTest, LooksComeSoonAfterAStartEndWhenDoneAndLeaveNoTimer) {
  // The look that finds it done (0: none), whether starts keep coming at first, and the looks.
  for (auto [doneAtLook, startsWithoutPause, expected] :
       {std::tuple(0, false, 6), {2, false, 2}, {0, true, 6}}) {
    FakeClock clock;
    FakeRunLoop loop(clock);
    int looks = 0;
    SettleSchedule settle(loop, [&] { return ++looks == doneAtLook; });
    settle.start();
    if (startsWithoutPause) {
      for (int i = 0; i < 200; ++i) {
        loop.advance(0.005);
        settle.start();
      }
      EXPECT_GE(looks, 50) << "a look at least every 20 ms while starts keep coming";
      looks = 0;
    }
    loop.advance(10);
    EXPECT_EQ(looks, expected) << doneAtLook;
    EXPECT_EQ(loop.scheduledTimers(), 0u);
    EXPECT_FALSE(settle.isActive());
  }
}

}  // namespace
}  // namespace zelto
