#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "App/Data/Preferences/JSONValues.h"
#include "App/Data/Preferences/TimerZeltoPreferences.h"
#include "App/Data/Preferences/ZeltoBaseJSONModel.h"

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
  EXPECT_TRUE(Sample::keyIsIgnored("scratch"));
  EXPECT_FALSE(Sample::keyIsIgnored("title"));
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

}  // namespace
}  // namespace zelto
