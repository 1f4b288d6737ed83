// End-to-end: zeltoctl run as a user would, on a configuration holding a weekday 09:00-17:00
// schedule, read in Europe/Berlin.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "App/Controller/Zelto.h"
#include "App/Data/ZeltoDefaults.h"
#include "Platform/Clock.h"
#include "Platform/PropertyList.h"
#include "Support/ChildProcess.h"
#include "Support/TempDir.h"
#include "Support/TestEnv.h"

namespace zelto {
namespace {

using json = nlohmann::json;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Pair;
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
  EXPECT_EQ(midday.size(), 16u);
  EXPECT_EQ(std::tuple(midday["isScheduleBlocked"], midday["scheduleEnd"], midday["mode"]),
            std::tuple(true, "2026-12-09T16:00:00.000Z", "normal"));  // 17:00 in Berlin
  // Before the period (PhaseAgreementTest has every phase): the time until it starts.
  EXPECT_EQ(status("2026-12-09T08:54:00+01:00")["timeUntilBlock"], 360);
}

// The log is evidence: it can't be switched off while blocking is locked.
TEST_F(ZeltoctlTest, TheLogStaysOnWhileBlockingIsLocked) {
  home_.write(".local/share/Zelto/default.cfg",
              R"({"zeltoType": 1, "zeltoUnblockDate": "2099-01-01T00:00:00Z",
                  "zeltoHardcoreMode": true, "zeltoMustCompleteSession": true})");
  EXPECT_THAT(run({"log-level", "off"}),
              Pair(1, HasSubstr("can't be switched off while blocking is locked")));
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
    EXPECT_THAT(run(arguments), Pair(2, HasSubstr(named)));
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
  EXPECT_THAT(run({"ports", "--proxy", "9100", "--json"}),
              Pair(1, HasSubstr("Changing the proxy's port is refused while blocking is locked")));
  const json now = json::parse(run({"ports", "--json"}).second);
  EXPECT_EQ(now["blockPage"]["port"], 9001);
  EXPECT_EQ(now["proxy"]["port"], 9002);
}

TEST_F(ZeltoctlTest, ScheduleListsThePeriodsAndAGrid) {
  EXPECT_THAT(run({"schedule", "--now", "2026-12-11T12:00:00+01:00", "--days", "3"}),
              Pair(0, AllOf(HasSubstr("Fri 2026-12-11 09:00 -> Fri 2026-12-11 17:00  WORK"),
                            HasSubstr("Mon 2026-12-14 09:00"), HasSubstr("Sat 12-12   ......"))));

  EXPECT_THAT(run({"status", "--now", "next tuesday"}), Pair(2, HasSubstr("is not a date")));
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
  for (const auto& [outcome, reason] : invalid) EXPECT_THAT(outcome, Pair(1, HasSubstr(reason)));
}

TEST_F(ZeltoctlTest, CheckUrlDecidesByTheAgentsConfiguration) {
  // The agent's "ConfigurationDir" points elsewhere: that configuration is the one decided by.
  home_.write(".config/Zelto/Preferences/Quarnix.zelto.agent.plist",
              *PropertyList::toXML({{"ConfigurationDir", home_ / "synced"}}));
  auto useSites = [&](const json& profile) {
    home_.write("synced/default.cfg", json{{"profiles", json::array({profile})}}.dump());
  };
  useSites({{"blockedWebsites", {"Example.com", "-chrome://", "+example.com/ok/", ""}}});
  EXPECT_THAT(run({"check-url", "--explain", "https://www.example.com/x", "chrome://settings",
                   "https://example.com/ok/?a=1", "https://other.org/", "chrome://flags/#x"}),
              Pair(0,
                   "blocked\thttps://www.example.com/x\t4\texample.com\n"
                   "blocked\tchrome://settings\t2\t-chrome://\n"
                   "allowed\thttps://example.com/ok/?a=1\t1\t+example.com/ok/\n"
                   "allowed\thttps://other.org/\t5\t(no match)\n"
                   "blocked\tchrome://flags/#x\t2\t-chrome://\n"));

  useSites({{"enableWhitelistWebsites", true}, {"whitelistedWebsites", {"docs.org"}}});
  EXPECT_THAT(run({"check-url", "https://docs.org/a", "https://other.org/"}),
              Pair(0, "allowed\thttps://docs.org/a\nblocked\thttps://other.org/\n"));

  EXPECT_THAT(run({"check-url"}), Pair(::testing::Ne(0), HasSubstr("URL is required")));
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

// Many writers of one configuration at once: zeltoctl edits and timer saves in other processes,
// and a controller saving in this one (as the agent's does). Each takes the configuration's
// lock for its whole read-modify-write, so every edit is in the final file.
TEST(ZeltoctlWritersTest, NoEditIsLostBetweenConcurrentWriters) {
  ZeltoPreferences::resetSharedInstanceForTesting();
  testing::TestEnv env;
  const std::string config = env.home() + "/.local/share/Zelto/default.cfg";
  env.temp().write(".local/share/Zelto/default.cfg", R"({"profiles": [{"blockedWebsites": []}]})");

  constexpr int kEdits = 12;
  constexpr int kTimerSaves = 6;
  constexpr int kControllerSaves = 15;
  std::vector<std::unique_ptr<testing::ChildProcess>> writers;
  auto zeltoctl = [&](std::vector<std::string> arguments) {
    std::string name = std::to_string(writers.size());
    writers.push_back(std::make_unique<testing::ChildProcess>(
        std::string(ZELTO_TEST_APP_DIR) + "/Contents/MacOS/zeltoctl",
        std::map<std::string, std::optional<std::string>>{{"HOME", env.home()},
                                                          {"XDG_DATA_HOME", std::nullopt},
                                                          {"XDG_CONFIG_HOME", std::nullopt}},
        env.temp() / ("err" + name), std::move(arguments), env.temp() / ("out" + name)));
  };

  // This process's controller saves session records while the others run.
  std::thread agentLike([&] {
    SystemClock clock;
    Zelto zelto(clock);
    for (int i = 0; i < kControllerSaves; ++i) {
      Status edited = zelto.edit([&] {
        zelto.prefs()->sessions.push_back(ZeltoSessionPreferences::initWithDate(
            clock.now(), json(1000 + i), Zelto::kBreakSessionType));
        zelto.save().ignoreError();
      });
      EXPECT_TRUE(edited.ok()) << edited.message();
    }
  });
  for (int i = 0; i < kEdits; ++i) {
    zeltoctl({"sites", "add", "site" + std::to_string(i) + ".example"});
    if (i < kTimerSaves) {
      zeltoctl(i % 2 == 0 ? std::vector<std::string>{"start", "--for", "10m"}
                          : std::vector<std::string>{"stop"});
    }
  }
  agentLike.join();

  for (size_t i = 0; i < writers.size(); ++i) {
    auto status = writers[i]->waitForExit(std::chrono::seconds(60));
    EXPECT_TRUE(status && WIFEXITED(*status))
        << testing::readWholeFile(env.temp() / ("err" + std::to_string(i)));
  }
  json stored = json::parse(testing::readWholeFile(config));
  json sites = stored["profiles"][0]["blockedWebsites"];
  for (int i = 0; i < kEdits; ++i) {
    std::string site = "site" + std::to_string(i) + ".example";
    EXPECT_NE(std::find(sites.begin(), sites.end(), site), sites.end()) << site << " was lost";
  }
  std::set<double> intervals;
  for (const json& session : stored["sessions"])
    intervals.insert(session["interval"].get<double>());
  for (int i = 0; i < kControllerSaves; ++i) {
    EXPECT_TRUE(intervals.contains(1000 + i)) << "session " << i << " was lost";
  }
  ZeltoPreferences::resetSharedInstanceForTesting();
}

}  // namespace
}  // namespace zelto
