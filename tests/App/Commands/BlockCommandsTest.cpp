#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "App/Commands/BlockCommands.h"
#include "App/Commands/BlockState.h"
#include "App/Commands/TimeArguments.h"
#include "App/Controller/Zelto.h"
#include "App/Data/Preferences/JSONValues.h"
#include "Support/ControllerFixture.h"

namespace zelto {
namespace {

using ::testing::HasSubstr;
using json = nlohmann::json;
using testing::at;

std::string iso(const std::string& text) { return JSONValues::formatDate(at(text)); }

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
    EXPECT_THAT(refusal(bad), HasSubstr("is not a duration")) << bad;
  }
  for (const char* zero : {"0s", "0h0m", "000d"}) {
    EXPECT_THAT(refusal(zero), HasSubstr("no time at all")) << zero;
  }
  // Too long, however the digits would wrap in 64 bits (2^64 + 1 seconds reads as 1 if it did).
  for (const char* huge : {"366d", "365d1s", "8761h", "18446744073709551617s",
                           "99999999999999999999999999999999m", "365d86400s"}) {
    EXPECT_THAT(refusal(huge), HasSubstr("is too long; at most 365 days")) << huge;
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
    EXPECT_THAT(parsed.status().message(), HasSubstr("is not a time")) << bad;
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

// The commands run on a controller over a private home, as CommandRunner runs them: the period
// observed first. Times are in Europe/Berlin; 2026-12-09 is a Wednesday.
class BlockCommandsTest : public testing::ControllerFixture {
 protected:
  // Reads the file afresh, as zeltoctl's edit does, in the zone of the tests.
  void reread() {
    EXPECT_TRUE(controller_->prefs()->discardUnsavedChanges().ok());
    controller_->prefs()->currentTimeZone = "Europe/Berlin";
  }
  // A command as zeltoctl runs it: on the file read afresh, the period observed.
  CommandOutcome run(const std::function<CommandOutcome(Zelto&)>& command) {
    reread();
    BlockState::observe(*controller_);
    return command(*controller_);
  }
  CommandOutcome start(BlockCommands::StartOptions options) {
    return run([&](Zelto& z) { return BlockCommands::start(z, options); });
  }
  CommandOutcome takeBreak(const std::string& length = "") {
    return run([&](Zelto& z) { return BlockCommands::takeBreak(z, {length}); });
  }
  // Whether a controller made afresh at `now` finds blocking on.
  bool runningAt(const std::string& now) {
    clock_.setNow(at(now));
    reread();
    return BlockState::observe(*controller_).running;
  }

  // A timer from 11:00 to 13:00.
  static json timer(bool hardcore, bool mustComplete) {
    json config = json::parse(R"({"zeltoType": 1, "lastZeltoDate": "2026-12-09T11:00:00+01:00",
        "zeltoUnblockDate": "2026-12-09T13:00:00+01:00",
        "lastUnzeltoDate": "2026-12-09T13:00:00+01:00"})");
    config.update({{"zeltoHardcoreMode", hardcore}, {"zeltoMustCompleteSession", mustComplete}});
    return config;
  }
  // Started by hand at 11:00.
  static json byHand(bool hardcore = false) {
    return {{"zeltoType", 0},
            {"zeltoHardcoreMode", hardcore},
            {"isUserInitiated", true},
            {"lastZeltoDate", "2026-12-09T11:00:00+01:00"}};
  }
  // Schedule "W" blocks 09:00-17:00 on weekdays.
  static json scheduled(bool hardcore) {
    json config = json::parse(R"({"zeltoType": 2, "profiles": [{"schedules": [{"isEnabled": true,
        "scheduleType": 8, "fromDate": {"hour": 9}, "toDate": {"hour": 17}, "uniqueID": "W"}]}]})");
    config["zeltoHardcoreMode"] = hardcore;
    return config;
  }
};

TEST_F(BlockCommandsTest, StartsByHandOrAsATimerThatEndsWithoutTheApplication) {
  open(json::object());
  CommandOutcome outcome = start({});
  ASSERT_TRUE(outcome.ok()) << outcome.text;
  EXPECT_EQ(outcome.text, "Blocking is on until stopped.\n");
  json saved = stored();
  EXPECT_EQ(saved["zeltoType"], 0);
  EXPECT_EQ(saved["lastZeltoDate"], iso("2026-12-09T12:00:00+01:00"));
  EXPECT_FALSE(saved.contains("lastUnzeltoDate") || saved.contains("zeltoUnblockDate"));
  EXPECT_EQ(saved["isUserInitiated"], true);
  EXPECT_EQ(outcome.report["state"]["running"], true);
  EXPECT_TRUE(runningAt("2026-12-19T12:00:00+01:00"));

  open(byHand());
  outcome = start({.forText = "25m", .hardcore = true, .mustComplete = true});
  ASSERT_TRUE(outcome.ok()) << outcome.text;
  EXPECT_EQ(outcome.text,
            "Blocking is on until 12:25 (in 25 minutes), timer, locked (hardcore mode, the "
            "session must be completed).\nNo system guard runs here: the lock holds for this "
            "session only. Installing the system guard (see the README, \"The system guard\") "
            "makes it hold against killed programs and edited files.\n");
  EXPECT_EQ(outcome.report["guard"], "absent");
  const CommandOutcome again = start({.forText = "25m", .hardcore = true, .mustComplete = true});
  EXPECT_EQ(again.report["guard"], "absent");
  EXPECT_EQ(again.text.find("No system guard"), std::string::npos);  // said once
  saved = stored();
  EXPECT_EQ(saved["zeltoType"], 1);
  EXPECT_EQ(saved["zeltoUnblockDate"], iso("2026-12-09T12:25:00+01:00"));
  EXPECT_EQ(saved["lastUnzeltoDate"], saved["zeltoUnblockDate"]);
  EXPECT_EQ(saved["lastZeltoDate"], iso("2026-12-09T12:00:00+01:00"));
  EXPECT_EQ(saved["zeltoHardcoreMode"], true);
  EXPECT_EQ(saved["zeltoMustCompleteSession"], true);
  EXPECT_EQ(outcome.report["state"]["locked"], true);
  EXPECT_EQ(outcome.report["state"]["endsAt"], iso("2026-12-09T12:25:00+01:00"));
  EXPECT_TRUE(runningAt("2026-12-09T12:24:59+01:00"));
  EXPECT_FALSE(runningAt("2026-12-09T12:25:00+01:00"));  // no application needed to end it

  open(json::object());
  outcome = start({.untilText = "09:00"});
  ASSERT_TRUE(outcome.ok()) << outcome.text;
  EXPECT_EQ(outcome.text, "Blocking is on until Thu 10 Dec 2026 at 09:00 (in 21 hours), timer.\n");
  EXPECT_EQ(stored()["zeltoUnblockDate"], iso("2026-12-10T09:00:00+01:00"));

  // A bad argument is a usage error that names it, and saves nothing.
  const std::string before = fileText();
  outcome = start({.forText = "25"});
  EXPECT_EQ(outcome.exitCode, CommandOutcome::kUsage);
  EXPECT_EQ(outcome.text, "--for: \"25\" is not a duration; add a unit: 25m\n");
  EXPECT_EQ(start({.untilText = "2026-12-09T11:00:00Z"}).exitCode, CommandOutcome::kUsage);
  EXPECT_EQ(fileText(), before);
}

TEST_F(BlockCommandsTest, AStartWhileLockedMayOnlyTighten) {
  open(timer(true, true));
  const std::string before = fileText();
  CommandOutcome outcome = start({});
  EXPECT_EQ(outcome.exitCode, CommandOutcome::kRefused);
  EXPECT_EQ(outcome.text,
            "A start that would loosen blocking is refused while blocking is locked: this "
            "session must be completed (hardcore mode); it ends at 13:00 (in 1 hour).\n");
  EXPECT_EQ(outcome.report["endsAt"], iso("2026-12-09T13:00:00+01:00"));
  // Sooner, or no longer locked.
  EXPECT_FALSE(start({.forText = "30m", .hardcore = true, .mustComplete = true}).ok());
  EXPECT_FALSE(start({.forText = "2h", .hardcore = true}).ok());
  EXPECT_FALSE(start({.forText = "2h", .mustComplete = true}).ok());
  EXPECT_EQ(fileText(), before);
  EXPECT_TRUE(BlockState::observe(*controller_).locked);  // the refused change is gone

  outcome = start({.untilText = "14:00", .hardcore = true, .mustComplete = true});
  ASSERT_TRUE(outcome.ok()) << outcome.text;
  EXPECT_EQ(stored()["zeltoUnblockDate"], iso("2026-12-09T14:00:00+01:00"));

  // Beside a locked schedule, a start without hardcore mode would unlock it; with it, it's fine.
  open(scheduled(true));
  EXPECT_FALSE(start({}).ok());
  outcome = start({.hardcore = true});
  ASSERT_TRUE(outcome.ok()) << outcome.text;
  EXPECT_EQ(outcome.text,
            "Blocking is on until stopped, scheduled until 17:00 (in 5 hours), locked (hardcore "
            "mode, a scheduled period).\n");
  EXPECT_EQ(outcome.report["state"]["locked"], true);
}

TEST_F(BlockCommandsTest, StopIsRefusedExactlyWhenHardcoreModeLocksThePeriod) {
  for (bool hardcore : {false, true}) {
    for (const std::string mode : {"normal", "timer", "schedule"}) {
      for (bool mustComplete : {false, true}) {
        SCOPED_TRACE(mode + (hardcore ? " hardcore" : "") + (mustComplete ? " must-complete" : ""));
        json config = mode == "normal"  ? byHand(hardcore)
                      : mode == "timer" ? timer(hardcore, mustComplete)
                                        : scheduled(hardcore);
        config["zeltoMustCompleteSession"] = mustComplete;
        config["zeltoUnbreakDate"] = "2026-12-09T12:05:00+01:00";
        open(config);
        const std::string before = fileText();
        CommandOutcome outcome = run(BlockCommands::stop);
        const bool locked = hardcore && (mode == "schedule" || (mode == "timer" && mustComplete));
        if (locked) {
          EXPECT_EQ(outcome.exitCode, CommandOutcome::kRefused);
          EXPECT_THAT(outcome.text, HasSubstr("Stopping is refused while blocking is locked: "));
          EXPECT_EQ(outcome.report["endsAt"], iso(mode == "timer" ? "2026-12-09T13:00:00+01:00"
                                                                  : "2026-12-09T17:00:00+01:00"));
          EXPECT_EQ(fileText(), before);
          continue;
        }
        ASSERT_TRUE(outcome.ok()) << outcome.text;
        json saved = stored();
        EXPECT_EQ(saved["lastUnzeltoDate"], iso("2026-12-09T12:00:00+01:00"));
        EXPECT_FALSE(saved.contains("zeltoUnbreakDate") || saved.contains("zeltoUnblockDate"));
        EXPECT_EQ(saved["zeltoType"], 0);
        EXPECT_FALSE(runningAt("2026-12-09T12:00:01+01:00"));
        if (mode == "schedule") {
          EXPECT_EQ(saved["profiles"][0]["schedules"][0]["isEnabled"], false);
          EXPECT_EQ(outcome.report["schedulesSwitchedOff"], json::array({"W"}));
          EXPECT_THAT(outcome.text, HasSubstr("switched off: W. \"zeltoctl schedules enable ID\""));
          EXPECT_TRUE(saved["sessions"].empty());  // no start of its own to count from
        } else {
          ASSERT_EQ(saved["sessions"].size(), 1u);
          EXPECT_EQ(saved["sessions"][0]["date"], iso("2026-12-09T11:00:00+01:00"));
          EXPECT_EQ(saved["sessions"][0]["interval"], 3600);
          EXPECT_EQ(saved["sessions"][0]["zeltoType"], mode == "timer" ? 1 : 0);
        }
      }
    }
  }
  open(json::object());
  CommandOutcome outcome = run(BlockCommands::stop);
  EXPECT_TRUE(outcome.ok());
  EXPECT_EQ(outcome.text, "Blocking is not on.\n");
}

TEST_F(BlockCommandsTest, BreaksStayWithinTheAllowanceAndUnusedTimeReturns) {
  open(timer(true, false));  // hardcore: a break is still allowed
  CommandOutcome outcome = takeBreak();
  ASSERT_TRUE(outcome.ok()) << outcome.text;
  EXPECT_EQ(outcome.text,
            "On a break until 12:05 (in 5 minutes); 25 minutes of break time left.\n");
  json saved = stored();
  EXPECT_EQ(saved["zeltoUnbreakDate"], iso("2026-12-09T12:05:00+01:00"));
  EXPECT_EQ(saved["lastBreakDate"], iso("2026-12-09T12:00:00+01:00"));
  EXPECT_EQ(saved["sessions"].back()["zeltoType"], Zelto::kBreakSessionType);
  EXPECT_EQ(saved["sessions"].back()["interval"], 300);

  outcome = takeBreak("1m");
  EXPECT_EQ(outcome.exitCode, CommandOutcome::kRefused);
  EXPECT_EQ(outcome.text, "A break is already running; it ends at 12:05 (in 5 minutes).\n");

  clock_.advance(119.5);
  outcome = run(BlockCommands::unbreak);
  ASSERT_TRUE(outcome.ok()) << outcome.text;
  saved = stored();
  EXPECT_FALSE(saved.contains("zeltoUnbreakDate"));
  EXPECT_EQ(saved["lastUnbreakDate"], iso("2026-12-09T12:01:59.500+01:00"));
  EXPECT_EQ(saved["sessions"].back()["interval"], 120);
  EXPECT_EQ(outcome.report["allowedLeft"], 1680);
  EXPECT_EQ(run(BlockCommands::unbreak).text, "No break is running.\n");

  // Beyond what is left, the break is possible when the earlier one times out (a day later).
  outcome = takeBreak("29m");
  EXPECT_EQ(outcome.exitCode, CommandOutcome::kRefused);
  EXPECT_EQ(outcome.text,
            "28 minutes of break time left; a break of 29 minutes is possible on Thu 10 Dec 2026 "
            "at 12:00 (in 23 hours 58 minutes 1 second).\n");
  outcome = takeBreak("31m");
  EXPECT_EQ(outcome.text,
            "A break of 31 minutes is longer than the whole allowance of 30 minutes.\n");
  EXPECT_TRUE(takeBreak("28m").ok());

  open(json::object());
  EXPECT_EQ(takeBreak().exitCode, CommandOutcome::kRefused);  // nothing to break from
  json noBreaks = byHand();
  noBreaks["disableBreaks"] = true;
  open(noBreaks);
  EXPECT_EQ(takeBreak().text, "Breaks are switched off in the settings.\n");
  EXPECT_FALSE(stored().contains("zeltoUnbreakDate"));
  // A session that must be completed can't be spent on a break.
  open(timer(true, true));
  EXPECT_EQ(takeBreak("29m59s").text,
            "This session must be completed (hardcore mode): it takes no breaks; it ends at "
            "13:00 (in 1 hour).\n");
  EXPECT_FALSE(stored().contains("zeltoUnbreakDate"));
}

}  // namespace
}  // namespace zelto
