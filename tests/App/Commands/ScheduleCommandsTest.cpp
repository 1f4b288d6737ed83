#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "App/Commands/BlockState.h"
#include "App/Commands/ScheduleArguments.h"
#include "App/Commands/ScheduleCommands.h"
#include "App/Commands/ScheduleZoneShift.h"
#include "App/Commands/StatusReport.h"
#include "App/Data/Preferences/JSONValues.h"
#include "Support/ControllerFixture.h"

namespace zelto {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using json = nlohmann::json;
using Change = ScheduleCommands::Change;
using testing::at;

// A controller over a private home, as the command runner gives one, in Europe/Berlin;
// 2026-12-09 is a Wednesday.
class ScheduleCommandsTest : public testing::ControllerFixture {
 protected:
  json stored(int profile = 0) const {
    return json::parse(fileText())["profiles"][profile]["schedules"];
  }
  CommandOutcome add(const std::string& days, const std::string& from, const std::string& to,
                     const std::string& zone = "") {
    return ScheduleCommands::add(*controller_, {days, from, to, zone});
  }
  static json record(const std::string& id, int type, int from, int to, int sortIndex,
                     bool enabled = true) {
    return {{"isEnabled", enabled},         {"scheduleType", type},     {"sortIndex", sortIndex},
            {"fromDate", {{"hour", from}}}, {"toDate", {{"hour", to}}}, {"uniqueID", id}};
  }
  static json withSchedules(json first, json second = json::array(), json more = json::object()) {
    json config = {{"profiles", json::array({{{"schedules", std::move(first)}},
                                             {{"schedules", std::move(second)}}})}};
    config.update(more);
    return config;
  }
};

TEST(ScheduleArgumentsTest, DaysAndTimesOfDay) {
  using Types = std::vector<int32_t>;
  EXPECT_EQ(ScheduleArguments::parseDays("weekdays"), Types{8});
  EXPECT_EQ(ScheduleArguments::parseDays("Weekends"), Types{9});
  EXPECT_EQ(ScheduleArguments::parseDays("daily"), Types{10});
  // A list naming exactly the weekdays, the weekend or every day is that one selector.
  EXPECT_EQ(ScheduleArguments::parseDays("fri,thu,wed,tue,mon"), Types{8});
  EXPECT_EQ(ScheduleArguments::parseDays(" Sat , SUN "), Types{9});
  EXPECT_EQ(ScheduleArguments::parseDays("mon,tue,wed,thu,fri,sat,sun"), Types{10});
  EXPECT_EQ(ScheduleArguments::parseDays("sun,wed,mon,wed"), (Types{1, 3, 7}));
  EXPECT_EQ(ScheduleArguments::parseDays("mon,tue,wed,thu,fri,sat"), (Types{1, 2, 3, 4, 5, 6}));
  for (const char* bad : {"", "monday", "mon,,tue", "mon;tue", "mon,", "every day", "1"}) {
    EXPECT_FALSE(ScheduleArguments::parseDays(bad)) << bad;
  }

  EXPECT_EQ(ScheduleArguments::parseTime("00:00"), 0);
  EXPECT_EQ(ScheduleArguments::parseTime("9:05"), 545);
  EXPECT_EQ(ScheduleArguments::parseTime("23:59"), 1439);
  for (const char* bad :
       {"24:00", "25:00", "9:5x", "9:5", "12:60", "0900", "-1:00", "+9:00", "9:05 ", ":30", ""}) {
    EXPECT_FALSE(ScheduleArguments::parseTime(bad)) << bad;
  }
}

TEST_F(ScheduleCommandsTest, AddMakesRecordsInTheDefaultProfileAfterTheLastPosition) {
  open(withSchedules(json::array({record("A", 8, 9, 17, 2)}),
                     json::array({record("B", 9, 9, 17, 7, false)})));
  CommandOutcome outcome = add("wed,mon", "22:00", "6:00");
  ASSERT_EQ(outcome.exitCode, CommandOutcome::kDone) << outcome.text;
  json made = stored();
  ASSERT_EQ(made.size(), 3u);
  const std::regex uuid("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[0-9A-F]{4}-[0-9A-F]{12}");
  for (int i : {1, 2}) {
    const std::string id = made[i]["uniqueID"];
    EXPECT_TRUE(std::regex_match(id, uuid));
    // Monday, then Wednesday; one position more than the largest of every profile.
    EXPECT_EQ(made[i], record(id, i == 1 ? 1 : 3, 22, 6, 7 + i));
    EXPECT_EQ(outcome.report["added"][i - 1]["id"], id);
    EXPECT_THAT(outcome.text, HasSubstr(id));
  }
  EXPECT_NE(made[1]["uniqueID"], made[2]["uniqueID"]);
  EXPECT_EQ(stored(1).size(), 1u);
  // The next run of the Wednesday record: tonight from 22:00 into Thursday's first moment.
  EXPECT_EQ(outcome.report["added"][1]["next"],
            json({{"from", "2026-12-09T21:00:00.000Z"}, {"to", "2026-12-09T23:00:00.000Z"}}));

  // With no schedules at all, positions start at 0.
  open(json::object());
  ASSERT_TRUE(add("mon,tue,wed,thu,fri,sat,sun", "00:00", "00:00").ok());
  EXPECT_EQ(stored()[0]["sortIndex"], 0);
  EXPECT_EQ(stored()[0]["scheduleType"], 10);
}

// Where overnight and whole-day records block: ScheduleNormalizationTest.
TEST_F(ScheduleCommandsTest, OvernightAndWholeDayRecordsBlockWhereTheyShould) {
  Zelto& zelto = open(json::object());
  ASSERT_TRUE(add("mon", "22:00", "06:00").ok());
  ASSERT_TRUE(add("sat", "00:00", "00:00").ok());
  ASSERT_TRUE(add("fri", "21:30", "00:00").ok());  // until the end of Friday
  EXPECT_THAT(StatusReport::scheduleText(zelto, zelto.now(), 7),
              HasSubstr("Fri 2026-12-11 21:30 -> Sat 2026-12-12 00:00"));
  EXPECT_THAT(ScheduleCommands::list(zelto).text,
              AllOf(HasSubstr("mon 22:00-06:00 (overnight)"),
                    HasSubstr("sat 00:00-00:00 (whole day)"), HasSubstr("fri 21:30-00:00\n")));
}

TEST_F(ScheduleCommandsTest, BadArgumentsAreNamedAndChangeNothing) {
  open(withSchedules(json::array({record("A", 8, 9, 17, 0)})));
  const std::string before = fileText();
  const std::pair<CommandOutcome, const char*> cases[] = {
      {add("funday", "09:00", "10:00"), "--days"},
      {add("mon", "24:00", "10:00"), "--from"},
      {add("mon", "09:00", "9:5x"), "--to"},
      {add("mon", "09:00", "10:00", "Nowhere/Land"), "--zone"},
      // Times in New York that fall on the next day in Berlin.
      {add("mon", "20:00", "22:00", "America/New_York"), "--zone"}};
  for (const auto& [outcome, named] : cases) {
    EXPECT_EQ(outcome.exitCode, CommandOutcome::kUsage) << outcome.text;
    EXPECT_EQ(outcome.text.rfind(named, 0), 0u) << outcome.text;
  }
  EXPECT_EQ(fileText(), before);
}

TEST_F(ScheduleCommandsTest, ListShowsEveryProfilesSchedulesInOrder) {
  Zelto& zelto = open(
      withSchedules(json::array({record("LATE", 3, 18, 19, 5), record("NOW", 8, 11, 13, 1)}),
                    json::array({record("OFF", 10, 0, 0, 0, false),
                                 // Out of range and no day: shown, never in force, never a crash.
                                 json::parse(R"({"isEnabled": true, "scheduleType": 0,
                                     "fromDate": {"hour": 1e300}, "uniqueID": "ODD",
                                     "sortIndex": 9})")})));
  CommandOutcome outcome = ScheduleCommands::list(zelto);
  ASSERT_TRUE(outcome.ok());
  const json& listed = outcome.report;
  ASSERT_EQ(listed.size(), 4u);
  EXPECT_EQ(listed[0], json::parse(R"({"id": "OFF", "days": "daily", "from": "00:00",
      "to": "00:00", "enabled": false, "sortIndex": 0, "inForce": false})"));
  EXPECT_EQ(std::tuple(listed[1]["id"], listed[1]["inForce"], listed[2]["id"], listed[2]["inForce"],
                       listed[3]["days"]),
            std::tuple("NOW", true, "LATE", false, "none"));
  EXPECT_THAT(outcome.text,
              AllOf(HasSubstr("NOW"), HasSubstr("weekdays 11:00-13:00  -- in force now")));
}

TEST_F(ScheduleCommandsTest, TimesInAnotherZoneAreKeptAsLocalTimes) {
  open(json::object(), "2026-12-09T12:00:00+01:00");
  CommandOutcome outcome = add("wed", "15:00", "16:00", "Europe/London");
  ASSERT_TRUE(outcome.ok()) << outcome.text;
  EXPECT_EQ(stored()[0]["fromDate"], json({{"hour", 16}}));
  EXPECT_EQ(stored()[0]["toDate"], json({{"hour", 17}}));
  EXPECT_THAT(outcome.text, HasSubstr("offsets in force now"));
  EXPECT_EQ(outcome.report["added"][0]["given"]["zoneOffset"], "UTC+00:00");
  // Local records, as the controller and the watchdog read every schedule (WatchdogManagerTest,
  // PhaseAgreementTest); the next run is the local one.
  EXPECT_EQ(outcome.report["added"][0]["next"]["from"], "2026-12-09T15:00:00.000Z");

  // Each shift as "from-to offset" in minutes, or the start of its refusal.
  auto shift = [](int32_t type, int from, int to, const std::string& zone, const char* now) {
    auto shifted = ScheduleZoneShift::shift(type, from, to, zone, "Europe/Berlin", at(now));
    return shifted.ok() ? fmt::format("{}-{} {}", shifted->fromMinutes, shifted->toMinutes,
                                      shifted->zoneOffset)
                        : shifted.status().message().substr(0, 6);
  };
  const char* winter = "2026-12-09T12:00:00+01:00";
  // Same offsets: as given, whole day too.
  EXPECT_EQ(shift(6, 0, 0, "Europe/Paris", winter), "0-0 60");
  EXPECT_EQ(shift(6, 0, 0, "Europe/London", winter), "--zone");  // the day would start at 01:00
  // Until London's midnight: 01:00 on the next day here.
  EXPECT_EQ(shift(6, 8 * 60, 0, "Europe/London", winter), "--zone");
  // Helsinki's 22:00 to its midnight is 21:00-23:00 here.
  EXPECT_EQ(shift(1, 22 * 60, 0, "Europe/Helsinki", winter), "1260-1380 120");
  // Overnight: its midnight boundaries would move, except every day, where the nights join.
  EXPECT_EQ(shift(1, 22 * 60, 6 * 60, "Europe/London", winter), "--zone");
  EXPECT_EQ(shift(10, 22 * 60, 6 * 60, "Europe/London", winter), "1380-420 0");
  // The offsets are those of the next occurrence: on Saturday New York is 6 hours behind, from
  // Sunday's clock change 5, and Monday's 09:00 there is 14:00 here.
  EXPECT_EQ(shift(1, 9 * 60, 10 * 60, "America/New_York", "2027-03-13T12:00:00+01:00"),
            "840-900 -240");
}

TEST_F(ScheduleCommandsTest, RemoveEnableAndDisableByID) {
  Zelto& zelto = open(withSchedules(json::array({record("A", 8, 9, 17, 0)}),
                                    json::array({record("B", 9, 9, 17, 1, false)})));
  CommandOutcome unknown = ScheduleCommands::change(zelto, "a", Change::kRemove);
  EXPECT_EQ(unknown.exitCode, CommandOutcome::kRefused);
  EXPECT_THAT(unknown.text, HasSubstr("\"a\""));

  ASSERT_TRUE(ScheduleCommands::change(zelto, "B", Change::kEnable).ok());
  EXPECT_EQ(stored(1)[0]["isEnabled"], true);
  ASSERT_TRUE(ScheduleCommands::change(zelto, "A", Change::kDisable).ok());
  EXPECT_EQ(stored(0)[0]["isEnabled"], false);
  CommandOutcome removed = ScheduleCommands::change(zelto, "B", Change::kRemove);
  ASSERT_TRUE(removed.ok());
  EXPECT_EQ(removed.report["removed"]["id"], "B");
  EXPECT_TRUE(stored(1).empty());
  EXPECT_EQ(stored(0).size(), 1u);
}

TEST_F(ScheduleCommandsTest, WhileLockedOnlyTheSchedulesKeepingBlockingOnStay) {
  // Hardcore mode at Wednesday 10:00: A runs now and B carries the run on to 17:00; C is
  // Thursday's and D is off.
  const json config =
      withSchedules(json::array({record("A", 8, 9, 12, 0), record("B", 3, 12, 17, 1),
                                 record("C", 4, 9, 10, 2), record("D", 3, 8, 18, 3, false)}),
                    json::array(), {{"zeltoHardcoreMode", true}});
  Zelto& zelto = open(config, "2026-12-09T10:00:00+01:00");
  ASSERT_TRUE(BlockState::observe(zelto).locked);
  const std::string before = fileText();
  for (auto [id, what, action] : {std::tuple("A", Change::kRemove, "Removing"),
                                  std::tuple("B", Change::kDisable, "Disabling")}) {
    CommandOutcome refused = ScheduleCommands::change(zelto, id, what);
    EXPECT_EQ(refused.exitCode, CommandOutcome::kRefused);
    EXPECT_EQ(refused.text,
              std::string(action) + " schedule " + id +
                  " is refused while blocking is locked: a scheduled period can't "
                  "be ended early in hardcore mode; it ends at 17:00 (in 7 hours).\n");
    EXPECT_EQ(refused.report["endsAt"], "2026-12-09T16:00:00.000Z");
  }
  EXPECT_EQ(fileText(), before);
  EXPECT_TRUE(ScheduleCommands::change(zelto, "C", Change::kRemove).ok());
  EXPECT_TRUE(ScheduleCommands::change(zelto, "D", Change::kEnable).ok());
  // Switched on, D now keeps blocking on until 18:00, and stays.
  EXPECT_EQ(ScheduleCommands::change(zelto, "D", Change::kDisable).exitCode,
            CommandOutcome::kRefused);
  EXPECT_TRUE(add("daily", "20:00", "21:00").ok());  // tightening goes through

  // Unlocked, the same removal goes through.
  json relaxed = config;
  relaxed["zeltoHardcoreMode"] = false;
  Zelto& free = open(relaxed, "2026-12-09T10:00:00+01:00");
  EXPECT_TRUE(ScheduleCommands::change(free, "A", Change::kRemove).ok());
}

}  // namespace
}  // namespace zelto
