#include <gtest/gtest.h>

#include <limits>

#include "App/Data/Preferences/JSONValues.h"
#include "App/Data/Preferences/QuoteZeltoPreferences.h"
#include "App/Data/Preferences/TimerZeltoPreferences.h"
#include "App/Data/Preferences/ZeltoSessionPreferences.h"
#include "Platform/Env.h"
#include "Support/FakeClock.h"

namespace zelto {
namespace {

using nlohmann::json;

Date at(const std::string& text) { return *JSONValues::parseDate(text); }

TEST(SmallRecordsTest, SessionNeverStoresItsFingerprint) {
  auto session = ZeltoSessionPreferences::initWithDictionary(
      {{"date", "2024-03-07T08:05:00Z"}, {"interval", 300}, {"zeltoType", 7}});
  ASSERT_TRUE(session) << session.status().message();
  json written = session->toDictionary();
  EXPECT_TRUE(written["interval"].is_number_integer());
  EXPECT_FALSE(written.contains("fingerprint"));
  EXPECT_EQ(session->valueForKey("fingerprint"), std::nullopt);
}

TEST(SmallRecordsTest, InitWithDateKeepsOnlyFiniteNumbersSoTheSessionReadsBack) {
  auto session = ZeltoSessionPreferences::initWithDate(at("2024-03-07T08:05:00Z"), 0.5, 1);
  EXPECT_EQ(session.interval, json(0.5));
  EXPECT_EQ(session.zeltoType, 1);

  for (json bad : {json(std::numeric_limits<double>::infinity()), json("300")}) {
    session = ZeltoSessionPreferences::initWithDate(at("2024-03-07T08:05:00Z"), bad, 1);
    EXPECT_EQ(session.interval, json(0)) << bad.dump();
    auto again = ZeltoSessionPreferences::initWithDictionary(session.toDictionary());
    EXPECT_TRUE(again) << again.status().message();
  }
}

TEST(SmallRecordsTest, FingerprintDigestsTypeUtcDateAndSinglePrecisionInterval) {
  auto breakSession =
      ZeltoSessionPreferences::initWithDate(at("2024-03-07T09:05:00.900+01:00"), 300, 4);
  EXPECT_EQ(breakSession.fingerprintText(), "4-2024-03-07 08:05:00 +0000-300.0000");
  EXPECT_EQ(breakSession.getFingerprint(), "58d49179fbb315e34c3b7874b013190d");

  auto session = ZeltoSessionPreferences::initWithDate(at("2024-03-07T08:05:00Z"), 0.1, 0);
  EXPECT_EQ(session.fingerprintText(), "0-2024-03-07 08:05:00 +0000-0.1000");
  session.interval = 123456789;
  EXPECT_EQ(session.fingerprintText(), "0-2024-03-07 08:05:00 +0000-123456792.0000");
  session.interval = 1e300;  // beyond single precision
  EXPECT_EQ(session.fingerprintText(), "0-2024-03-07 08:05:00 +0000-inf");
}

TEST(SmallRecordsTest, TimeSinceSessionFollowsTheClock) {
  FakeClock clock(at("2024-03-07T08:15:00Z"));
  Env::ScopedOverride override(Env::Services{.clock = &clock, .mainBundle = std::nullopt});
  auto session = ZeltoSessionPreferences::initWithDate(at("2024-03-07T08:05:00Z"), 300, 1);
  EXPECT_DOUBLE_EQ(session.getTimeIntervalSinceSession(), 600);
  clock.setNow(at("2024-03-07T08:00:00Z"));
  EXPECT_DOUBLE_EQ(session.getTimeIntervalSinceSession(), -300);
}

struct AttributedQuote : QuoteZeltoPreferences {};

TEST(SmallRecordsTest, QuotesCompareHashAndAnswerByName) {
  auto quote = QuoteZeltoPreferences::initWithDictionary({{"quote", "Q"}, {"author", "A"}});
  auto same = QuoteZeltoPreferences::initWithDictionary({{"quote", "Q"}, {"author", "A"}});
  auto other = QuoteZeltoPreferences::initWithDictionary({{"quote", "Q"}});
  ASSERT_TRUE(quote && same && other);
  EXPECT_TRUE(quote->isEqual(*same));
  EXPECT_EQ(quote->hash(), same->hash());
  EXPECT_FALSE(quote->isEqual(*other));

  AttributedQuote derived;
  derived.quote = "Q";
  derived.author = "A";
  EXPECT_TRUE(quote->isEqual(derived));
  EXPECT_FALSE(quote->isEqual(*TimerZeltoPreferences::defaultInstance()));

  EXPECT_EQ(quote->objectForKeyedSubscript("author"), "A");
  EXPECT_EQ(quote->objectForKeyedSubscript("interval"), std::nullopt);
}

}  // namespace
}  // namespace zelto
