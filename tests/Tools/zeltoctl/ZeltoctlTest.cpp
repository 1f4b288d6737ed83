// End-to-end: zeltoctl run as a user would, on a configuration holding a weekday 09:00-17:00
// schedule, read in Europe/Berlin.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "App/Data/ZeltoDefaults.h"
#include "Platform/PropertyList.h"
#include "Support/ChildProcess.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

using json = nlohmann::json;
using ::testing::HasSubstr;
using testing::readWholeFile;

class ZeltoctlTest : public ::testing::Test {
 protected:
  ZeltoctlTest() {
    home_.write(".local/share/Zelto/default.cfg", R"({"profiles": [{"schedules": [
        {"isEnabled": true, "scheduleType": 8, "fromDate": {"hour": 9}, "toDate": {"hour": 17},
         "uniqueID": "WORK"}]}]})");
  }

  // zeltoctl's output and exit status.
  std::pair<int, std::string> run(std::vector<std::string> arguments) {
    return testing::runToEnd(std::string(ZELTO_TEST_APP_DIR) + "/Contents/MacOS/zeltoctl",
                             {{"HOME", home_.path()},
                              {"TZ", "Europe/Berlin"},
                              {"LANG", "C"},
                              {"XDG_DATA_HOME", std::nullopt},
                              {"XDG_CONFIG_HOME", std::nullopt}},
                             home_.path(), std::move(arguments));
  }

  json status(const std::string& now) {
    auto [code, output] = run({"status", "--json", "--now", now});
    EXPECT_EQ(code, 0) << output;
    return json::parse(output, nullptr, false);
  }

  testing::TempDir home_;
};

TEST_F(ZeltoctlTest, AnswersForAWeekdaySchedule) {
  json midday = status("2026-12-09T12:00:00+01:00");  // a Wednesday
  // (Its phase, and the watchdog's answer, in every kind of period: PhaseAgreementTest.)
  EXPECT_EQ(midday.size(), 13u);
  EXPECT_EQ(midday["isScheduleBlocked"], true);
  EXPECT_EQ(midday["scheduleEnd"], "2026-12-09T16:00:00.000Z");  // 17:00 in Berlin
  EXPECT_EQ(midday["mode"], "normal");
  // Before the period (PhaseAgreementTest has every phase): the time until it starts.
  EXPECT_EQ(status("2026-12-09T08:54:00+01:00")["timeUntilBlock"], 360);
}

// The log is evidence: it can't be switched off while blocking is locked.
TEST_F(ZeltoctlTest, TheLogStaysOnWhileBlockingIsLocked) {
  home_.write(".local/share/Zelto/default.cfg",
              R"({"zeltoType": 1, "zeltoUnblockDate": "2099-01-01T00:00:00Z",
                  "zeltoHardcoreMode": true, "zeltoMustCompleteSession": true})");
  auto [refused, why] = run({"log-level", "off"});
  EXPECT_EQ(refused, 1);
  EXPECT_THAT(why, HasSubstr("can't be switched off while blocking is locked"));
  EXPECT_EQ(run({"log-level"}).second, "agent: info\napplication: info\n");  // unchanged
  EXPECT_EQ(run({"log-level", "debug", "--app"}).first, 0);
  EXPECT_EQ(run({"log-level"}).second, "agent: info\napplication: debug\n");
  EXPECT_EQ(run({"log-level", "--agent"}).second, "info\n");
}

// Each port is kept where the application reads it; a bad value is named and changes nothing,
// and no port moves while blocking is locked (a browser would be left pointing at nothing).
TEST_F(ZeltoctlTest, PortsAreShownAndSetWhereTheApplicationReadsThem) {
  const std::string settings = home_.write(".config/Zelto/Preferences/Quarnix.zelto.plist",
                                           *PropertyList::toXML({{"logLevel", "debug"}}));
  const std::string config = home_ / ".local/share/Zelto/default.cfg";
  auto [code, shown] = run({"ports"});
  EXPECT_EQ(code, 0);
  EXPECT_THAT(shown, HasSubstr("8919  (the default, nothing stored; \"httpPort\" in " + config));
  EXPECT_THAT(shown, HasSubstr("8920  (the default, nothing stored; \"ProxyPort\" in " + settings));

  const std::pair<std::vector<std::string>, std::string> bad[] = {
      {{"--http", "70000"}, "--http \"70000\" is no port"},
      {{"--proxy", "80a"}, "--proxy \"80a\" is no port"},
      {{"--proxy", "0"}, "--proxy \"0\" is no port"},
      {{"--http", "9000", "--proxy", "9000"}, "both 9000"},
      {{"--http", "8920"}, "--http 8920 is the proxy's port"}};
  for (auto [arguments, named] : bad) {
    arguments.insert(arguments.begin(), "ports");
    auto [refused, why] = run(arguments);
    EXPECT_EQ(refused, 2) << why;
    EXPECT_THAT(why, HasSubstr(named));
  }
  EXPECT_EQ(json::parse(run({"ports", "--json"}).second)["proxy"]["stored"], nullptr);

  auto [set, setText] = run({"ports", "--http", "9001", "--proxy", "9002"});
  ASSERT_EQ(set, 0) << setText;
  EXPECT_EQ(json::parse(readWholeFile(config))["httpPort"], 9001);
  EXPECT_THAT(readWholeFile(settings), HasSubstr("9002"));
  EXPECT_THAT(readWholeFile(settings), HasSubstr("debug"));  // the other settings stay

  json locked = json::parse(readWholeFile(config));
  locked.update(json::parse(R"({"zeltoType": 1, "zeltoUnblockDate": "2099-01-01T00:00:00Z",
                                 "zeltoHardcoreMode": true, "zeltoMustCompleteSession": true})"));
  home_.write(".local/share/Zelto/default.cfg", locked.dump());
  auto [refused, why] = run({"ports", "--proxy", "9100", "--json"});
  EXPECT_EQ(refused, 1);
  EXPECT_THAT(why, HasSubstr("Changing the proxy's port is refused while blocking is locked"));
  const json now = json::parse(run({"ports", "--json"}).second);
  EXPECT_EQ(now["blockPage"]["port"], 9001);
  EXPECT_EQ(now["proxy"]["port"], 9002);
}

TEST_F(ZeltoctlTest, ScheduleListsThePeriodsAndAGrid) {
  auto [code, output] = run({"schedule", "--now", "2026-12-11T12:00:00+01:00", "--days", "3"});
  EXPECT_EQ(code, 0);
  EXPECT_THAT(output, HasSubstr("Fri 2026-12-11 09:00 -> Fri 2026-12-11 17:00  WORK"));
  EXPECT_THAT(output, HasSubstr("Mon 2026-12-14 09:00"));
  EXPECT_THAT(output, HasSubstr("Sat 12-12   ......"));

  auto [badCode, message] = run({"status", "--now", "next tuesday"});
  EXPECT_EQ(badCode, 2);
  EXPECT_THAT(message, HasSubstr("is not a date"));
}

TEST_F(ZeltoctlTest, DumpPrintsWhatASaveWouldWrite) {
  auto [code, output] = run({"dump"});
  ASSERT_EQ(code, 0) << output;
  json printed = json::parse(output, nullptr, false);
  ASSERT_EQ(printed["profiles"].size(), 1u);
  EXPECT_EQ(printed["profiles"][0]["name"], "Default");
  EXPECT_EQ(printed["profiles"][0]["schedules"][0]["uniqueID"], "WORK");
  EXPECT_EQ(printed["profiles"][0]["blockedWebsites"],
            json(*ZeltoDefaults::parseResourceFile(std::string(ZELTO_TEST_APP_DIR) +
                                                   "/Contents/Resources/zelto")));
}

TEST_F(ZeltoctlTest, ValidateSaysValidOrGivesTheReason) {
  auto validate = [&](const std::string& contents) {
    return run({"validate", home_.write("check.cfg", contents)});
  };
  EXPECT_EQ(validate(R"({"zeltoType": 1})"), std::make_pair(0, std::string("valid\n")));
  EXPECT_EQ(run({"validate"}), std::make_pair(0, std::string("valid\n")));  // the standard file

  // A file named on the command line that isn't there, or can't be read, is no valid file.
  const std::pair<std::pair<int, std::string>, std::string> invalid[] = {
      {validate(R"({"profiles": [{}, {"schedules": [{"sortIndex": -1}]}]})"),
       "Unable to initialize Zelto Preferences because of error: "
       "profiles[1].schedules[0].sortIndex: -1 is negative"},
      {validate("{oops"), "Error while unserializing file at"},
      {run({"validate", home_ / "missing.cfg"}), home_ / "missing.cfg: No such file or directory"},
      {run({"validate", home_.path()}), "Not a regular file"}};
  for (const auto& [outcome, reason] : invalid) {
    EXPECT_EQ(outcome.first, 1) << outcome.second;
    EXPECT_THAT(outcome.second, HasSubstr(reason));
  }
}

TEST_F(ZeltoctlTest, CheckUrlDecidesByTheAgentsConfiguration) {
  // The agent's "ConfigurationDir" points elsewhere: that configuration is the one decided by.
  home_.write(".config/Zelto/Preferences/Quarnix.zelto.agent.plist",
              *PropertyList::toXML({{"ConfigurationDir", home_ / "synced"}}));
  auto useSites = [&](const json& profile) {
    home_.write("synced/default.cfg", json{{"profiles", json::array({profile})}}.dump());
  };
  useSites({{"blockedWebsites", {"Example.com", "-chrome://", "+example.com/ok/", ""}}});
  auto [code, output] =
      run({"check-url", "--explain", "https://www.example.com/x", "chrome://settings",
           "https://example.com/ok/?a=1", "https://other.org/", "chrome://flags/#x"});
  EXPECT_EQ(code, 0);
  EXPECT_EQ(output,
            "blocked\thttps://www.example.com/x\t4\texample.com\n"
            "blocked\tchrome://settings\t2\t-chrome://\n"
            "allowed\thttps://example.com/ok/?a=1\t1\t+example.com/ok/\n"
            "allowed\thttps://other.org/\t5\t(no match)\n"
            "blocked\tchrome://flags/#x\t2\t-chrome://\n");

  useSites({{"enableWhitelistWebsites", true}, {"whitelistedWebsites", {"docs.org"}}});
  std::tie(code, output) = run({"check-url", "https://docs.org/a", "https://other.org/"});
  EXPECT_EQ(code, 0);
  EXPECT_EQ(output, "allowed\thttps://docs.org/a\nblocked\thttps://other.org/\n");

  std::tie(code, output) = run({"check-url"});
  EXPECT_NE(code, 0);
  EXPECT_THAT(output, HasSubstr("URL is required"));
}

// Exit statuses as a script sees them: 0 done, 1 refused, 2 a usage error naming the argument;
// --json gives one object either way.
// (A usage error in a value: PortsAreShownAndSet...; the outcome of each command: its tests.)
TEST_F(ZeltoctlTest, EditsExitWithTheirOutcome) {
  EXPECT_EQ(run({"sites", "add"}).first, 2);  // nothing to add
  EXPECT_EQ(run({"stop", "--bogus"}).first, 2);

  auto [refused, refusedText] = run({"sites", "remove", "nowhere.example", "--json"});
  EXPECT_EQ(refused, 1);
  EXPECT_THAT(json::parse(refusedText, nullptr, false)["error"].get<std::string>(),
              HasSubstr("nowhere.example"));
}

}  // namespace
}  // namespace zelto
