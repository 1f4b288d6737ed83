#include <gtest/gtest.h>

#include <limits>

#include "App/Data/Schedules/NSTimeIntervalFormatter.h"

namespace zelto {
namespace {

using F = NSTimeIntervalFormatter;

TEST(NSTimeIntervalFormatterTest, WordFormsRoundHalvesAwayFromZeroAndIgnoreTheSign) {
  using Parts = std::vector<TimeIntervalPart>;
  EXPECT_EQ(F::rawPartsForTimeInterval(-2.5), (Parts{{"seconds", 3}}));
  EXPECT_TRUE(F::rawPartsForTimeInterval(-0.49).empty());
  // Exact in whole seconds far beyond 2^53, and held at the 64-bit limit beyond that.
  EXPECT_EQ(F::rawPartsForTimeInterval(1152921504606846976.0),  // 2^60
            (Parts{{"days", 13343998895912}, {"hours", 13}, {"minutes", 56}, {"seconds", 16}}));
  EXPECT_EQ(F::rawPartsForTimeInterval(1e300).front(),
            (TimeIntervalPart{"days", std::numeric_limits<int64_t>::max() / 86400}));

  EXPECT_EQ(F::relativeTimeForInterval(90061), "1 day 1 hour 1 minute 1 second");
  EXPECT_EQ(F::relativeTimeForInterval(-90), "1 minute 30 seconds");
  EXPECT_EQ(F::relativeTimeForInterval(3599.5), "1 hour");
  EXPECT_EQ(F::relativeTimeForInterval(0.4), "0 seconds");
}

TEST(NSTimeIntervalFormatterTest, ClockFormTruncatesAndDoesNotWrapHours) {
  EXPECT_EQ(F::stringFromTimeInterval(59.9), "00:59");
  EXPECT_EQ(F::stringFromTimeInterval(3599.99), "59:59");
  EXPECT_EQ(F::stringFromTimeInterval(3725), "01:02:05");
  EXPECT_EQ(F::stringFromTimeInterval(360000), "100:00:00");
  // Negative fields keep their signs, and there is no hours field then.
  EXPECT_EQ(F::stringFromTimeInterval(-0.9), "00:00");
  EXPECT_EQ(F::stringFromTimeInterval(-1), "00:-1");
  EXPECT_EQ(F::stringFromTimeInterval(-3725), "-2:-5");
}

TEST(NSTimeIntervalFormatterTest, NonFiniteIntervalsShowNoTime) {
  for (double t :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity()}) {
    EXPECT_TRUE(F::rawPartsForTimeInterval(t).empty());
    EXPECT_EQ(F::relativeTimeForInterval(t), "0 seconds");
    EXPECT_EQ(F::stringFromTimeInterval(t), "00:00");
  }
  // Finite but beyond 64 bits: held at the limit rather than undefined.
  EXPECT_EQ(F::stringFromTimeInterval(1e300), "2562047788015215:30:07");
  EXPECT_EQ(F::stringFromTimeInterval(-1e300), "-30:-8");
}

}  // namespace
}  // namespace zelto
