#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>
#include <tuple>

#include "Agent/App/Watchdog/WatchdogManager.h"
#include "App/Data/Preferences/JSONValues.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Support/FakeFileWatcher.h"
#include "Support/FakeRunLoop.h"
#include "Support/FakeWorkspace.h"
#include "Support/LogCapture.h"
#include "Support/TestEnv.h"

namespace zelto {
namespace {

using json = nlohmann::json;
using ::testing::ElementsAre;
using testing::LogCapture;

// A watchdog on simulated time, a fake workspace (where the main application runs only once the
// test says so) and a fake file watcher, deciding from a configuration the test writes. Schedules
// are read in Europe/Berlin; 2026-12-09 is a Wednesday.
class WatchdogManagerTest : public ::testing::Test {
 protected:
  WatchdogManagerTest() { ZeltoPreferences::resetSharedInstanceForTesting(); }
  ~WatchdogManagerTest() override {
    watchdog_.reset();
    ZeltoPreferences::resetSharedInstanceForTesting();
  }

  void start(const json& config, const std::string& now = "2026-12-09T12:00:00+01:00") {
    watchdog_.reset();
    zelto_.reset();
    ZeltoPreferences::resetSharedInstanceForTesting();
    writeConfig(config);
    clock_.setNow(*JSONValues::parseDate(now));
    zelto_ = std::make_unique<Zelto>(clock_);
    if (zelto_->prefs()) zelto_->prefs()->currentTimeZone = "Europe/Berlin";
    watchdog_ = std::make_unique<WatchdogManager>(loop_, clock_, workspace_, files_, zelto_.get());
  }
  void writeConfig(const json& config) {
    env_.temp().write(".local/share/Zelto/default.cfg", config.dump());
  }
  json timerEndingIn(double seconds) {
    return {{"zeltoType", 1},
            {"zeltoUnblockDate", JSONValues::formatDate(clock_.now().addingTimeInterval(seconds))}};
  }
  static json weekdaySchedule() {
    return json::parse(R"({"profiles": [{"schedules": [{"isEnabled": true, "scheduleType": 8,
        "fromDate": {"hour": 9}, "toDate": {"hour": 17}, "uniqueID": "W"}]}]})");
  }
  void mainApplicationRuns(bool runs) {
    std::vector<RunningApplication> apps;
    if (runs) apps.push_back({4242, "Quarnix.zelto", ZELTO_TEST_APP_DIR, false});
    workspace_.setRunningApplications(apps);
  }

  testing::TestEnv env_{testing::builtAgentBundle()};
  FakeClock clock_;
  Env::ScopedOverride clockOverride_{Env::Services{.clock = &clock_}};
  FakeRunLoop loop_{clock_};
  FakeWorkspace workspace_;
  FakeFileWatcher files_;
  std::unique_ptr<Zelto> zelto_;
  std::unique_ptr<WatchdogManager> watchdog_;
};

TEST_F(WatchdogManagerTest, WhileTheApplicationRunsNothingElseIsConsulted) {
  start(timerEndingIn(600));
  mainApplicationRuns(true);
  watchdog_->setup();
  LogCapture capture;
  watchdog_->check();
  EXPECT_THAT(capture.texts(),
              ElementsAre("Checking if Zelto needs launching", "Zelto is already running"));
  EXPECT_TRUE(workspace_.launches().empty());
}

TEST_F(WatchdogManagerTest, SetupChecksTwiceAndLaunchesForARunningTimer) {
  start(timerEndingIn(600));
  // Another bundle claiming the main application's identifier is not it.
  workspace_.setRunningApplications({{4243, "Quarnix.zelto", "/Elsewhere/Zelto.app", false}});
  LogCapture capture;
  watchdog_->setup();
  EXPECT_EQ(capture.count("Checking if Zelto needs launching"), 2u);
  EXPECT_TRUE(capture.has(spdlog::level::info, "Detected that Zelto should be enabled"));
  EXPECT_TRUE(
      capture.has(spdlog::level::info, std::string("Launching Zelto at ") + ZELTO_TEST_APP_DIR));
  // The second check of set-up came within two seconds of the first launch: skipped.
  EXPECT_THAT(workspace_.launches(), ElementsAre(ZELTO_TEST_APP_DIR));
  // Started by someone else, the main application is seen even before it was ever seen running.
  EXPECT_THAT(workspace_.watchedForStarts(), ElementsAre(ZELTO_TEST_APP_DIR));
}

// The application's end is followed by its launch with one reading of the list, and the check
// says the same lines, in the same order, as any other.
TEST_F(WatchdogManagerTest, AnEndSeenByTheWorkspaceLaunchesAfterOneReadingOfTheList) {
  start(timerEndingIn(600));
  mainApplicationRuns(true);
  watchdog_->setup();
  mainApplicationRuns(false);
  LogCapture capture;
  const size_t before = workspace_.readings();
  workspace_.notifyChange();
  EXPECT_EQ(workspace_.readings() - before, 1u);
  EXPECT_THAT(workspace_.launches(), ElementsAre(ZELTO_TEST_APP_DIR));
  std::vector<std::string> said;
  for (const auto& line : capture.lines()) {
    if (line.level == spdlog::level::info) said.push_back(line.text);
  }
  EXPECT_THAT(said, ElementsAre("Checking if Zelto needs launching",
                                "Detected that Zelto should be enabled",
                                std::string("Launching Zelto at ") + ZELTO_TEST_APP_DIR));
}

TEST_F(WatchdogManagerTest, LaunchesTwoSecondsApartGoAheadAndEachSkippedOneIsRecheckedLater) {
  start(timerEndingIn(600));
  watchdog_->check();
  loop_.advance(2.0);
  watchdog_->check();
  ASSERT_EQ(workspace_.launches().size(), 2u);  // 2 s after the last: goes ahead

  // A skipped launch is checked again 3 s later; each skip has its own re-check.
  loop_.advance(1);
  LogCapture capture;
  watchdog_->check();
  EXPECT_TRUE(capture.has(spdlog::level::debug, "Skipping launch ...last launched 1.000000 ago"));
  loop_.advance(0.5);
  watchdog_->check();  // skipped: a check 3 s later, which must not put off the first one
  loop_.advance(2.4);
  EXPECT_EQ(workspace_.launches().size(), 2u);
  loop_.advance(0.2);  // 4 s after the last launch
  EXPECT_EQ(workspace_.launches().size(), 3u);
  // The later re-check comes 0.5 s after that launch: skipped, and checked again 3 s after it.
  loop_.advance(10);
  EXPECT_EQ(workspace_.launches().size(), 4u);
  EXPECT_EQ(loop_.scheduledTimers(), 0u);  // re-checks that have run are gone
}

// A scheduled period under way (as at a login at 10:00 into 09:00-17:00), and the next one
// within 300 s (inclusive), launch; each check logs why.
TEST_F(WatchdogManagerTest, TheNextScheduledPeriodCountsWithinThreeHundredSecondsInclusive) {
  const std::vector<std::tuple<json, std::string, spdlog::level::level_enum, std::string>> cases{
      {weekdaySchedule(), "2026-12-09T10:00:00+01:00", spdlog::level::info,
       "Launching Zelto ....a scheduled period is under way"},
      {weekdaySchedule(), "2026-12-09T08:55:00+01:00", spdlog::level::info,
       "Launching Zelto ....next schedule happening soon 300.000000s"},
      {weekdaySchedule(), "2026-12-09T08:54:59+01:00", spdlog::level::debug,
       "Next schedule is in 301.000000s ...too far out in the future to do anything about"},
      {json::object(), "2026-12-09T12:00:00+01:00", spdlog::level::debug,
       "Zelto doesn't need launching"}};
  size_t launches = 0;
  for (const auto& [config, now, level, line] : cases) {
    start(config, now);
    LogCapture capture;
    watchdog_->check();
    EXPECT_TRUE(capture.has(level, line)) << now;
    launches += line.starts_with("Launching");
    EXPECT_EQ(workspace_.launches().size(), launches) << now;
  }
}

// An application that keeps ending as soon as it is launched is worth one warning.
TEST_F(WatchdogManagerTest, LaunchesThatEndAtOnceAreWarnedOfOnce) {
  start(timerEndingIn(3600));
  LogCapture capture;
  for (int i = 0; i < 6; ++i) {
    watchdog_->check();
    clock_.advance(WatchdogManager::kMinimumLaunchSpacing + 0.1);
  }
  EXPECT_EQ(workspace_.launches().size(), 6u);
  EXPECT_EQ(capture.countStartingWith("Zelto ended within 5 s of each of its last 3 launches"), 1u);
}

// A main application stopped by a signal enforces nothing: it is continued within a second.
TEST_F(WatchdogManagerTest, AStoppedApplicationIsContinuedWithinASecond) {
  start(timerEndingIn(3600));
  mainApplicationRuns(true);
  watchdog_->setup();
  workspace_.setStopped(4242);
  LogCapture capture;
  loop_.advance(WatchdogManager::kStoppedCheckInterval);
  EXPECT_EQ(workspace_.resumed(), std::vector<int>{4242});
  EXPECT_TRUE(capture.has(spdlog::level::warn, "Zelto (pid 4242) was stopped; continued it"));
  loop_.advance(WatchdogManager::kStoppedCheckInterval);
  EXPECT_EQ(workspace_.resumed().size(), 1u);  // running again: left alone
}

// (And from the application's end: AnEndSeenByTheWorkspaceLaunchesAfterOneReadingOfTheList.)
TEST_F(WatchdogManagerTest, ChecksComeFromTheTimerAndTheFile) {
  start(json::object());
  watchdog_->setup();
  LogCapture capture;
  loop_.advance(74.999);
  EXPECT_EQ(capture.count("Checking if Zelto needs launching"), 0u);
  loop_.advance(0.001);
  EXPECT_EQ(capture.count("Checking if Zelto needs launching"), 1u);

  // The main application saved a running timer: seen at once.
  writeConfig(timerEndingIn(600));
  EXPECT_EQ(files_.fire(env_.home() + "/.local/share/Zelto/default.cfg"), 1);
  EXPECT_TRUE(capture.has(spdlog::level::debug, "Detected preferences changed"));
  EXPECT_EQ(workspace_.launches().size(), 1u);
}

TEST_F(WatchdogManagerTest, TheTimerCheckFindsAnApplicationStartedUnnoticed) {
  start(json::object());
  watchdog_->setup();
  // Started where the workspace could not watch, then a timer started with no file event seen.
  workspace_.startUnnoticed({4242, "Quarnix.zelto", ZELTO_TEST_APP_DIR, false});
  writeConfig(timerEndingIn(600));
  LogCapture capture;
  loop_.advance(75);
  EXPECT_TRUE(capture.has(spdlog::level::debug, "Zelto is already running"));
  EXPECT_TRUE(workspace_.launches().empty());
}

TEST_F(WatchdogManagerTest, AnUnreadableFileIsReadAgainOnceAtEachCheck) {
  start(json::array());  // the record can't load
  LogCapture capture;
  for (int i = 0; i < 3; ++i) watchdog_->check();
  EXPECT_EQ(capture.countStartingWith("Looking up configuration file at"), 3u);
  EXPECT_TRUE(workspace_.launches().empty());
  writeConfig(timerEndingIn(600));
  watchdog_->check();
  EXPECT_EQ(workspace_.launches().size(), 1u);
}

TEST_F(WatchdogManagerTest, TheConfigurationDirectoryIsTheAgentsOwnSettingAndDestructionStopsAll) {
  start(json::object());
  watchdog_.reset();  // before any check
  // The main application's setting is not the agent's: the agent watches its own default.
  ASSERT_TRUE(
      env_.store().save("Quarnix.zelto", {{"ConfigurationDir", env_.home() + "/theirs"}}).ok());
  start(json::object());
  watchdog_->setup();
  EXPECT_EQ(files_.watchedPaths(),
            std::vector<std::string>{env_.home() + "/.local/share/Zelto/default.cfg"});

  watchdog_.reset();
  env_.defaults().setObject(env_.home() + "/mine", "ConfigurationDir");
  start(json::object());
  watchdog_->setup();
  EXPECT_EQ(files_.watchedPaths(), std::vector<std::string>{env_.home() + "/mine/default.cfg"});

  EXPECT_GT(loop_.scheduledTimers(), 0u);
  watchdog_.reset();
  EXPECT_EQ(
      std::tuple(loop_.scheduledTimers(), files_.watchedPaths().size(), workspace_.observerCount()),
      std::tuple(0u, 0u, 0u));
}

TEST(WatchdogManagerDeathTest, ACheckOffTheMainLoopAborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        FakeClock clock;
        UvRunLoop loop;  // its thread is this one
        FakeWorkspace workspace;
        FakeFileWatcher files;
        WatchdogManager watchdog(loop, clock, workspace, files);
        std::thread([&] { watchdog.check(); }).join();
      },
      "Check failed: watchdog checks run on the main loop");
}

}  // namespace
}  // namespace zelto
