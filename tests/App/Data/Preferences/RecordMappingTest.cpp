#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "App/Data/Preferences/JSONValues.h"
#include "App/Data/Preferences/ProfileZeltoPreferences.h"
#include "App/Data/Preferences/QuoteZeltoPreferences.h"
#include "App/Data/Preferences/ScheduleZeltoPreferences.h"
#include "App/Data/Preferences/TimerZeltoPreferences.h"
#include "App/Data/Preferences/ZeltoBaseJSONModel.h"
#include "App/Data/Preferences/ZeltoPreferences.h"
#include "App/Data/Preferences/ZeltoSessionPreferences.h"
#include "Platform/DateCalendar.h"
#include "Platform/Env.h"
#include "Platform/JsonTextWriter.h"
#include "Support/FakeClock.h"
#include "Support/TestTimeZone.h"

namespace zelto {
namespace {

using nlohmann::json;

// A list element with one required field that has no default, and one that has.
struct Item : JSONRecord<Item> {
  std::string name;
  int32_t count{};

  static const std::vector<RecordField<Item>>& fields() {
    static const std::vector<RecordField<Item>> table{
        fields::text("name", &Item::name),
        fields::int32("count", &Item::count, 1),
    };
    return table;
  }
};

// A record of every kind the mapping offers that the tests below need.
struct Sample : JSONRecord<Sample> {
  std::string title;
  std::optional<std::string> note;
  std::optional<bool> enabled;
  std::optional<Date> when;
  std::optional<json> amount;
  int32_t small{};
  uint64_t big{};
  TimerZeltoPreferences timer;
  std::vector<Item> items;
  std::string serial;
  bool scratch{};

  // How often the serial's generator ran.
  static inline int serials = 0;

  static const std::vector<RecordField<Sample>>& fields() {
    using S = Sample;
    static const std::vector<RecordField<S>> table{
        fields::text("title", &S::title, "untitled"),
        fields::text("note", &S::note),
        fields::flag("enabled", &S::enabled),
        fields::date("when", &S::when),
        fields::number("amount", &S::amount),
        fields::int32("small", &S::small, 0),
        fields::uint64("big", &S::big, 0),
        fields::record("timer", &S::timer, json::object()),
        fields::records("items", &S::items, json::array()),
        fields::text("serial", &S::serial, [] { return std::to_string(++serials); }),
        fields::ignored<S>("scratch", true),
    };
    return table;
  }
};

Result<Sample> build(const json& input) { return Sample::initWithDictionary(input); }

// The reason building a Sample from `input` fails; it must fail.
std::string failure(const json& input) {
  Result<Sample> sample = build(input);
  EXPECT_FALSE(sample.ok()) << input.dump();
  return sample.status().message();
}

TEST(RecordMappingTest, DefaultsFillAbsentAndNullKeysButNotWrongTypes) {
  auto sample = build({{"title", nullptr}});
  ASSERT_TRUE(sample);
  EXPECT_EQ(sample->title, "untitled");
  EXPECT_EQ(sample->timer.interval, 1500);  // the nested record takes its own defaults

  EXPECT_EQ(failure({{"title", 5}}), "title: expected a text");
  EXPECT_EQ(failure({{"timer", {{"interval", "soon"}}}}),
            "timer.interval: expected an integer, found the text \"soon\"");
}

TEST(RecordMappingTest, DefaultsComeFromTheTableWithGeneratedOnesMadeAtEachUse) {
  json defaults = Sample::defaultValues();
  EXPECT_EQ(defaults, json({{"title", "untitled"},
                            {"small", 0},
                            {"big", 0},
                            {"timer", json::object()},
                            {"items", json::array()},
                            {"serial", std::to_string(Sample::serials)},
                            {"scratch", true}}));
  EXPECT_NE(Sample::defaultValues()["serial"], Sample::defaultValues()["serial"]);
  auto first = build(json::object()), second = build(json::object());
  ASSERT_TRUE(first && second);
  EXPECT_NE(first->serial, second->serial);
  EXPECT_EQ(build({{"serial", "kept"}})->serial, "kept");

  // An ignored key has its default listed, but is never read, written or answered.
  auto sample = build({{"scratch", 5}});
  ASSERT_TRUE(sample);
  EXPECT_FALSE(sample->scratch);
  EXPECT_FALSE(sample->toDictionary().contains("scratch"));
  EXPECT_EQ(sample->valueForKey("scratch"), std::nullopt);
  ASSERT_TRUE(sample->mergeFromDictionary({{"scratch", true}}).ok());
  EXPECT_FALSE(sample->scratch);
}

TEST(RecordMappingTest, OptionalFieldsMayBeMissingRequiredOnesMayNot) {
  auto sample = build({{"note", nullptr}});
  ASSERT_TRUE(sample);
  EXPECT_FALSE(sample->note);
  EXPECT_FALSE(sample->enabled);
  json written = sample->toDictionary();
  EXPECT_FALSE(written.contains("note"));
  EXPECT_FALSE(written.contains("enabled"));

  sample = build({{"enabled", false}, {"amount", 0}});
  ASSERT_TRUE(sample);
  EXPECT_EQ(sample->enabled, false);  // present and false, not empty
  EXPECT_EQ(sample->amount, json(0));

  sample = build({{"items", {{{"name", "a"}}, {{"name", "b"}, {"count", 4}}}}});
  ASSERT_TRUE(sample);
  ASSERT_EQ(sample->items.size(), 2u);
  EXPECT_EQ(sample->items[0].count, 1);  // each element takes the element class's defaults
  EXPECT_EQ(sample->items[1].count, 4);
  EXPECT_EQ(failure({{"items", {{{"name", "a"}}, {{"name", nullptr}}}}}),
            "items[1].name: is required but missing");
}

TEST(RecordMappingTest, UnknownKeysAreDroppedAndWhatIsWrittenReadsBack) {
  json input = {{"title", "t"},
                {"newerKey", {1, 2}},
                {"amount", 2.5},
                {"timer", {{"interval", 600}, {"frequentlyUsedIntervals", {{"600", 3}}}}},
                {"items", {{{"name", "a"}, {"extra", 1}}}}};
  auto sample = build(input);
  ASSERT_TRUE(sample);
  json written = sample->toDictionary();
  EXPECT_FALSE(written.contains("newerKey"));
  EXPECT_FALSE(written["items"][0].contains("extra"));
  EXPECT_EQ(written["timer"]["frequentlyUsedIntervals"], json({{"600", 3}}));
  auto again = build(written);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->toDictionary(), written);
}

TEST(RecordMappingTest, MergeIsAllOrNothingAndKeepsAbsentFields) {
  auto sample =
      build({{"title", "t"}, {"note", "n"}, {"small", 3}, {"timer", {{"interval", 600}}}});
  ASSERT_TRUE(sample);

  EXPECT_EQ(sample->mergeFromDictionary({{"title", "changed"}, {"small", "x"}}).message(),
            "small: expected an integer, found the text \"x\"");
  EXPECT_EQ(sample->title, "t");
  EXPECT_EQ(sample->mergeFromDictionary(json::array()).message(), "record: expected an object");

  ASSERT_TRUE(
      sample->mergeFromDictionary({{"small", 9}, {"note", nullptr}, {"title", nullptr}}).ok());
  EXPECT_EQ(sample->small, 9);
  EXPECT_FALSE(sample->note);              // null empties an optional field
  EXPECT_EQ(sample->title, "t");           // and leaves a required one as it was
  EXPECT_EQ(sample->timer.interval, 600);  // absent: kept

  // A nested record present in the input is built anew, with its own defaults.
  ASSERT_TRUE(sample->mergeFromDictionary({{"timer", json::object()}}).ok());
  EXPECT_EQ(sample->timer.interval, 1500);
}

// A profile built from an object the caller gives up takes its values instead of copying them;
// it must be the same profile, or fail for the same reason, and write the same text.
TEST(RecordMappingTest, TakingTheInputReadsAndWritesAsCopyingIt) {
  const json schedule = {{"uniqueID", "s"}, {"sortIndex", 2}, {"fromDate", {{"hour", 9}}}};
  const json inputs[] = {{{"uniqueID", "p"}},
                         {{"uniqueID", "p"},
                          {"name", "work"},
                          {"blockedWebsites", {"a.com", "\xc3\xa9.com", 7, nullptr, {{"odd", 1}}}},
                          {"whitelistedWebsites", json::array()},
                          {"blockedApplications", {{{"path", "/x"}}}},
                          {"timers", {{"interval", 60}, {"frequentlyUsedIntervals", {{"60", 2}}}}},
                          {"schedules", {schedule, schedule}},
                          {"quotes", json::array()},
                          {"enableWhitelistWebsites", 1},
                          {"unknown", {1, 2}}},
                         {{"uniqueID", "p"}, {"blockedWebsites", nullptr}, {"timers", nullptr}},
                         {{"uniqueID", "p"}, {"blockedWebsites", "a.com"}},
                         {{"uniqueID", "p"}, {"blockedApplications", json::object()}},
                         {{"uniqueID", "p"}, {"timers", json::array()}},
                         {{"uniqueID", "p"}, {"timers", {{"interval", "x"}}}},
                         {{"uniqueID", "p"}, {"schedules", json::object()}},
                         {{"uniqueID", "p"}, {"schedules", {schedule, 5}}},
                         {{"uniqueID", "p"}, {"quotes", {{{"quote", 1}}}}},
                         json::array()};
  for (const json& input : inputs) {
    Result<ProfileZeltoPreferences> copied =
        ProfileZeltoPreferences::initWithDictionary(input, "profiles[0]");
    json given = input;
    Result<ProfileZeltoPreferences> taken =
        ProfileZeltoPreferences::initWithDictionary(std::move(given), "profiles[0]");
    ASSERT_EQ(taken.ok(), copied.ok()) << input.dump();
    if (!copied.ok()) {
      EXPECT_EQ(taken.status().message(), copied.status().message());
      continue;
    }
    const json written = copied->toDictionary();
    EXPECT_EQ(taken->toDictionary(), written);
    std::string text;
    JsonTextWriter writer(text);
    taken->writeDictionary(writer);
    EXPECT_EQ(text, written.dump());
  }
}

TEST(RecordMappingTest, NumbersConvertLenientlyButNeverOutOfRange) {
  auto sample = build({{"enabled", 2}, {"small", "-7"}, {"big", 2.9}});
  ASSERT_TRUE(sample);
  EXPECT_EQ(sample->enabled, true);
  EXPECT_EQ(sample->small, -7);
  EXPECT_EQ(sample->big, 2u);
  EXPECT_EQ(build({{"enabled", 0}})->enabled, false);
  EXPECT_EQ(build({{"small", -2.9}})->small, -2);

  EXPECT_EQ(failure({{"big", "-1"}}), "big: -1 is negative");
  EXPECT_EQ(failure({{"small", 2147483648LL}}), "small: 2147483648 is out of range");
  EXPECT_EQ(failure({{"big", 1e20}}), "big: number out of range");
  EXPECT_EQ(failure({{"enabled", "yes"}}), "enabled: expected a flag (true, false or a number)");
  for (const char* text : {"4.5", "+-5"}) EXPECT_FALSE(build({{"small", text}})) << text;
}

TEST(RecordMappingTest, DatesReadInIsoFormsAndWriteAsUtcWithMilliseconds) {
  const double expected = 1709802300;  // 2024-03-07T09:05:00Z
  auto seconds = [](const std::string& text) {
    auto date = JSONValues::parseDate(text);
    return date ? date->secondsSince1970() : -1.0;
  };
  EXPECT_EQ(seconds("2024-03-07T09:05:00Z"), expected);
  EXPECT_EQ(seconds("2024-03-07T04:35:00-04:30"), expected);
  EXPECT_DOUBLE_EQ(seconds("2024-03-07T09:05:00.25Z"), expected + 0.25);
  for (const char* text : {"2024-03-07T09:05:00", "2024-02-30T09:05:00Z"}) {
    EXPECT_FALSE(JSONValues::parseDate(text)) << text;
  }

  auto sample = build({{"when", "2024-03-07T10:05:00.123+01:00"}});
  ASSERT_TRUE(sample);
  EXPECT_EQ(sample->toDictionary()["when"], json("2024-03-07T09:05:00.123Z"));
  EXPECT_EQ(failure({{"when", "soon"}}), "when: the text \"soon\" is not a date");
  EXPECT_EQ(failure({{"when", 1709802300}}), "when: expected a date text");

  // Beyond the readable years: written as the nearest readable date.
  EXPECT_EQ(JSONValues::formatDate(Date::fromSecondsSince1970(1e20)), "9999-12-31T23:59:59.999Z");
  EXPECT_EQ(JSONValues::formatDate(Date::fromSecondsSince1970(-1e20)), "0000-01-01T00:00:00.000Z");
}

TEST(RecordDefaultsTest, TheMainRecordsDefaultsAreItsThirtyNineAndTheComputedOnesAreLocal) {
  // 2026-05-28 20:26:40 UTC: 05:26:40 the next morning in the tests' zone.
  FakeClock clock{Date::fromSecondsSince1970(1'780'000'000)};
  Env::ScopedOverride clockOverride(Env::Services{.clock = &clock});
  json main = ZeltoPreferences::defaultValues();
  EXPECT_EQ(main.size(), 39u);
  EXPECT_THAT(
      main["uniqueIdentifier"].get<std::string>(),
      ::testing::MatchesRegex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"));
  // Local wall-clock time with a literal Z, not the UTC time.
  ASSERT_EQ(DateCalendar::systemTimeZoneName(), testing::kTestTimeZone);
  EXPECT_EQ(main["lastCrashReportCheckDate"], "2026-05-29T05:26:40Z");
  // The defaults that are not zero, false or empty; every number stays an integer.
  EXPECT_EQ(main["blockSpeedThrottle"].dump(), "1");
  EXPECT_EQ(main["breakInterval"].dump(), "300");
  EXPECT_EQ(main["breakTotalAllowedInterval"].dump(), "1800");
  EXPECT_EQ(main["breakTimeoutInterval"].dump(), "86400");
  EXPECT_EQ(main["disableDoNotDisturbMode"], true);
  EXPECT_EQ(main["profiles"], json::parse("[{}]"));
  EXPECT_EQ(TimerZeltoPreferences::defaultValues()["interval"].dump(), "1500");
}

// Where `value` (at `path`) is anything but false, zero, empty or the zero date, a failure.
void expectZero(const json& value, const std::string& path) {
  if (value.is_object()) {
    for (const auto& [key, item] : value.items()) expectZero(item, path + "." + key);
  } else if (value.is_array()) {
    EXPECT_TRUE(value.empty()) << path << " = " << value.dump();
  } else {
    bool zero = value == json(false) || value == json(0) || value == json("") ||
                value == json(JSONValues::formatDate(Date()));
    EXPECT_TRUE(zero) << path << " = " << value.dump();
  }
}

TEST(RecordDefaultsTest, PlainConstructionLeavesEveryFieldZeroOrEmpty) {
  expectZero(ZeltoPreferences().toDictionary(), "ZeltoPreferences");
  expectZero(ProfileZeltoPreferences().toDictionary(), "ProfileZeltoPreferences");
  expectZero(ScheduleZeltoPreferences().toDictionary(), "ScheduleZeltoPreferences");
  expectZero(TimerZeltoPreferences().toDictionary(), "TimerZeltoPreferences");
  expectZero(QuoteZeltoPreferences().toDictionary(), "QuoteZeltoPreferences");
  expectZero(ZeltoSessionPreferences().toDictionary(), "ZeltoSessionPreferences");
  // Fields that are not stored start empty as well.
  ScheduleZeltoPreferences schedule;
  EXPECT_FALSE(schedule.isDirty);
  EXPECT_FALSE(ZeltoPreferences().currentTimeZone);
}

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

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

ScheduleZeltoPreferences read(const json& input) {
  auto schedule = ScheduleZeltoPreferences::initWithDictionary(input);
  EXPECT_TRUE(schedule) << schedule.status().message();
  return schedule.valueOr(ScheduleZeltoPreferences{});
}

CalendarComponents time(int64_t hour, int64_t minute) {
  CalendarComponents components;
  components.hour = hour;
  components.minute = minute;
  return components;
}

// The start time read from a schedule whose "fromDate" holds `value`.
CalendarComponents fromDate(const json& value) { return read({{"fromDate", value}}).fromDate; }

TEST(ScheduleZeltoPreferencesTest,
     AnEmptyObjectReadsAsDefaultsAndIsDirtyAndBadSortIndexesNeverPass) {
  auto schedule = read(json::object());
  EXPECT_EQ(schedule.uniqueID.size(), 36u);
  EXPECT_EQ(schedule.toDictionary(), json({{"isEnabled", false},
                                           {"sortIndex", 0},
                                           {"scheduleType", 0},
                                           {"fromDate", json::object()},
                                           {"toDate", json::object()},
                                           {"uniqueID", schedule.uniqueID}}));
  // Without a stored identifier every read makes a new one.
  EXPECT_NE(read(json::object()).uniqueID, schedule.uniqueID);

  // "isDirty" is never read, nor written (above); an ignored key: DefaultsComeFromTheTable...
  EXPECT_FALSE(read({{"isDirty", true}, {"uniqueID", "A"}}).isDirty);
  // A negative sort index fails, naming the key path.
  EXPECT_EQ(
      ScheduleZeltoPreferences::initWithDictionary({{"sortIndex", -1}}, "profiles[0].schedules[2]")
          .status()
          .message(),
      "profiles[0].schedules[2].sortIndex: -1 is negative");
}

TEST(ScheduleZeltoPreferencesTest, TimesOfDayLeaveZeroPartsOutAndReadBackTheSame) {
  EXPECT_EQ(fromDate({{"minute", 5}}), time(0, 5));
  EXPECT_EQ(read({{"fromDate", {{"hour", 0}, {"minute", 0}}}}).toDictionary()["fromDate"],
            json::object());
  json stored = {{"isEnabled", true},        {"sortIndex", 3},
                 {"scheduleType", 8},        {"fromDate", {{"hour", 9}, {"minute", 30}}},
                 {"toDate", {{"hour", 17}}}, {"uniqueID", "A"}};
  EXPECT_EQ(read(stored).toDictionary(), stored);
  // Null takes the default {}; a value that is not an object reads as 00:00 too.
  EXPECT_EQ(fromDate(nullptr), time(0, 0));
  EXPECT_EQ(fromDate("09:30"), time(0, 0));

  auto schedule = read(stored);
  ASSERT_TRUE(schedule.mergeFromDictionary({{"fromDate", {{"minute", 45}}}}).ok());
  EXPECT_EQ(schedule.fromDate, time(0, 45));
  EXPECT_EQ(schedule.toDate, time(17, 0));
}

TEST(ScheduleZeltoPreferencesTest, HourIsTheIntegerValueOfWhateverIsStored) {
  // Text to its first non-digit, flags and fractions; beyond 64 bits a value stops at the
  // nearest limit; NaN gives 0.
  auto hour = [](const json& value) { return fromDate({{"hour", value}}).hour; };
  const std::pair<json, int64_t> cases[] = {{"9abc", 9},        {" -3", -3},       {"+07:30", 7},
                                            {"- 3", 0},         {true, 1},         {9.9, 9},
                                            {json::array(), 0}, {1e300, kMax},     {-1e300, kMin},
                                            {std::nan(""), 0},  {UINT64_MAX, kMax}};
  for (const auto& [value, expected] : cases) EXPECT_EQ(hour(value), expected) << value.dump();
  EXPECT_EQ(hour("99999999999999999999"), kMax);
  EXPECT_EQ(hour("-9223372036854775808"), kMin);
}

}  // namespace
}  // namespace zelto
