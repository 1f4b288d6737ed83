#include <gtest/gtest.h>

#include "Platform/Date.h"

namespace zelto {
namespace {

TEST(DateTest, ComparesAbsoluteMomentsAndEqualMomentsAreNeitherGreaterNorLess) {
  Date a = Date::fromSecondsSince1970(100);
  Date b = a.addingTimeInterval(0.5);
  EXPECT_TRUE(b.isGreaterDate(a));
  EXPECT_TRUE(a.isLessDate(b));
  EXPECT_FALSE(a.isGreaterDate(a));
  EXPECT_FALSE(a.isLessDate(a));
  EXPECT_TRUE(a.isLessOrEqualToDate(a));
  EXPECT_TRUE(a.isGreaterOrEqualToDate(a));
  EXPECT_DOUBLE_EQ(b.timeIntervalSinceDate(a), 0.5);
  EXPECT_DOUBLE_EQ(a.timeIntervalSinceDate(b), -0.5);
}

}  // namespace
}  // namespace zelto
