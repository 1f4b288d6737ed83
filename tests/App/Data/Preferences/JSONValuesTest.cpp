#include <gtest/gtest.h>

#include "App/Data/Preferences/JSONValues.h"

namespace zelto {
namespace {

TEST(JSONValuesTest, IntegerTextTakesOneSignOnly) {
  EXPECT_EQ(std::get<int64_t>(JSONValues::toInt64("+5")), 5);
  EXPECT_EQ(std::get<int64_t>(JSONValues::toInt64("-5")), -5);
  EXPECT_TRUE(std::holds_alternative<ConversionError>(JSONValues::toInt64("+-5")));
}

TEST(JSONValuesTest, DatesBeyondTheReadableYearsAreWrittenAsTheNearestReadableOne) {
  EXPECT_EQ(JSONValues::formatDate(Date::fromSecondsSince1970(1e20)), "9999-12-31T23:59:59.999Z");
  EXPECT_EQ(JSONValues::formatDate(Date::fromSecondsSince1970(-1e20)), "0000-01-01T00:00:00.000Z");
  EXPECT_TRUE(JSONValues::parseDate(JSONValues::formatDate(Date::fromSecondsSince1970(1e20))));
}

}  // namespace
}  // namespace zelto
