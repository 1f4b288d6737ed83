#include <gtest/gtest.h>

#include "App/Data/Preferences/JSONValues.h"
#include "Tools/zeltoctl/TimeArguments.h"

namespace zelto {
namespace {

Date at(const std::string& text) { return *JSONValues::parseDate(text); }

std::string refusal(const std::string& text) {
  auto parsed = TimeArguments::parseDuration(text);
  return parsed.ok() ? "accepted" : parsed.status().message();
}

TEST(TimeArgumentsTest, DurationsAreReadStrictly) {
  const std::pair<std::string, double> durations[] = {
      {"90s", 90},    {"25m", 1500}, {"1h30m", 5400},    {"1h30m15s", 5415},
      {"2d", 172800}, {"0h5m", 300}, {"365d", 31536000}, {"8760h", 31536000}};
  for (auto [text, seconds] : durations) {
    auto parsed = TimeArguments::parseDuration(text);
    ASSERT_TRUE(parsed.ok()) << text << ": " << parsed.status().message();
    EXPECT_EQ(*parsed, seconds) << text;
  }
  EXPECT_EQ(refusal("25x"), "\"25x\" is not a duration; use e.g. 25m, 1h30m or 90s");
  EXPECT_EQ(refusal("25"), "\"25\" is not a duration; add a unit: 25m");
  for (const char* bad :
       {"", "m", "1m1h", "1h1h", "1h30", "-5m", "+5m", "1.5h", "1 h", " 5m", "5m ", "5M", "h5"}) {
    EXPECT_NE(refusal(bad).find("is not a duration"), std::string::npos) << bad;
  }
  for (const char* zero : {"0s", "0h0m", "000d"}) {
    EXPECT_NE(refusal(zero).find("no time at all"), std::string::npos) << zero;
  }
  // Too long, however the digits would wrap in 64 bits (2^64 + 1 seconds reads as 1 if it did).
  for (const char* huge : {"366d", "365d1s", "8761h", "18446744073709551617s",
                           "99999999999999999999999999999999m", "365d86400s"}) {
    EXPECT_NE(refusal(huge).find("is too long; at most 365 days"), std::string::npos) << huge;
  }
}

TEST(TimeArgumentsTest, TimesAreLaterTodayOrTomorrowAndMustExist) {
  const std::string zone = "Europe/Berlin";
  auto parse = [&](const std::string& text, const std::string& now) {
    return TimeArguments::parseTime(text, at(now), zone);
  };
  const std::string noon = "2026-12-09T12:00:00+01:00";
  EXPECT_EQ(*parse("17:30", noon), at("2026-12-09T17:30:00+01:00"));
  EXPECT_EQ(*parse("9:05", noon), at("2026-12-10T09:05:00+01:00"));   // passed: tomorrow
  EXPECT_EQ(*parse("12:00", noon), at("2026-12-10T12:00:00+01:00"));  // now is not after now
  EXPECT_EQ(*parse("2026-12-09T13:00:00Z", noon), at("2026-12-09T14:00:00+01:00"));
  EXPECT_EQ(parse("2026-12-09T10:00:00Z", noon).status().message(),
            "\"2026-12-09T10:00:00Z\" is not in the future");
  for (const char* bad : {"24:00", "12:60", "7:5", "1730", "17:30:00", "noon", "", "-1:30",
                          "2026-12-09T17:30:00", "2026-12-09"}) {
    auto parsed = parse(bad, noon);
    ASSERT_FALSE(parsed.ok()) << bad;
    EXPECT_NE(parsed.status().message().find("is not a time"), std::string::npos) << bad;
  }

  // The clocks skip 02:00-03:00 on 2027-03-28: asked the evening before, "02:30" is tomorrow's
  // and doesn't exist; "03:30" does.
  auto skipped = parse("02:30", "2027-03-27T20:00:00+01:00");
  ASSERT_FALSE(skipped.ok());
  EXPECT_EQ(skipped.status().message(),
            "\"02:30\" does not exist on 2027-03-28 in Europe/Berlin: the clocks skip it "
            "(daylight saving); pick another time");
  EXPECT_EQ(*parse("03:30", "2027-03-27T20:00:00+01:00"), at("2027-03-28T03:30:00+02:00"));
  // 02:00-03:00 happens twice on 2026-10-25: the first one is meant.
  EXPECT_EQ(*parse("02:30", "2026-10-24T20:00:00+02:00"), at("2026-10-25T02:30:00+02:00"));
}

}  // namespace
}  // namespace zelto
