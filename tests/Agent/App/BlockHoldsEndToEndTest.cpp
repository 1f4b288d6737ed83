// End to end, as a user who wants out would try it: the built agent and the built application
// in a private copy of the bundle, the agent launching the application, and the block tried
// through the application's proxy after each attempt.
#include <fmt/chrono.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>

#include <filesystem>

#include "Platform/Linux/LinuxProcessTable.h"
#include "Platform/PropertyList.h"
#include "Support/CurlFetch.h"
#include "Support/HttpOrigin.h"
#include "Support/MainAppUnderTest.h"

namespace zelto::testing {
namespace {

using json = nlohmann::json;

class BlockHoldsEndToEndTest : public ::testing::Test {
 protected:
  BlockHoldsEndToEndTest() {
    writeSettings("Quarnix.zelto.agent", {{"logLevel", "debug"}});
    app_.writeConfig({{"profiles", json::array({{{"blockedWebsites", {blocked_.pattern()}}}})}});
  }
  ~BlockHoldsEndToEndTest() override {
    stopAgent();
    for (int pid : appPids()) ::kill(pid, SIGKILL);
  }

  // A user-defaults domain of this copy, holding `values`.
  void writeSettings(const std::string& domain, const json& values) {
    app_.dir().write("home/.config/Zelto/Preferences/" + domain + ".plist",
                     *PropertyList::toXML(values));
  }
  std::map<std::string, std::optional<std::string>> environment(const std::string& zone) const {
    auto environment = app_.environment();
    environment["TZ"] = zone;
    return environment;
  }
  void startAgent(const std::string& zone = "UTC") {
    agent_ =
        std::make_unique<ChildProcess>(bundle_ + "/Contents/MacOS/Agent.app/Contents/MacOS/Agent",
                                       environment(zone), app_.dir() / "agent.err");
    ASSERT_TRUE(agent_->started());
  }
  void stopAgent() {
    if (!agent_) return;
    agent_->signal(SIGTERM);
    agent_->waitForExit();
    agent_.reset();
  }
  std::string agentLog() const { return readWholeFile(app_.dir() / "agent.err"); }
  size_t agentSaid(const std::string& text) const { return occurrences(agentLog(), text); }
  std::pair<int, std::string> zeltoctl(std::vector<std::string> arguments) const {
    return runToEnd(bundle_ + "/Contents/MacOS/zeltoctl", environment("UTC"), app_.dir().path(),
                    std::move(arguments));
  }
  json stored() const { return json::parse(readWholeFile(configFile_)); }

  // The processes running this copy's application.
  std::vector<int> appPids() const {
    std::vector<int> pids;
    for (pid_t pid : LinuxProcessTable::processNumbers().value_or(std::vector<pid_t>{})) {
      auto executable = LinuxProcessTable::executableOf(pid);
      if (executable && executable->path == executable_) pids.push_back(pid);
    }
    return pids;
  }
  // One copy of the application runs and refuses the blocked site.
  bool blocks() {
    return eventually([&] {
      if (appPids().size() != 1) return false;
      Fetched got = curlFetch(blocked_.url("/page"), app_.proxy());
      return got.status == 302 && blocked_.hits() == 0;
    });
  }
  void killApp() {
    const std::vector<int> pids = appPids();
    for (int pid : pids) ::kill(pid, SIGKILL);
    eventually([&] { return appPids().empty(); });
  }
  // A daily schedule in force from an hour ago for two more hours, local time being UTC, locked
  // by hardcore mode. (An unlocked one, stopped: BlockCommandsTest, and the agent then waits:
  // HostileConfigurationTest.)
  void lockedScheduleInForce() {
    const time_t now = ::time(nullptr);
    auto hhmm = [](time_t t) { return fmt::format("{:%H:%M}", fmt::gmtime(t)); };
    auto [added, text] = zeltoctl({"schedules", "add", "--days", "daily", "--from",
                                   hhmm(now - 3600), "--to", hhmm(now + 7200)});
    ASSERT_EQ(added, 0) << text;
    json config = stored();
    config["zeltoHardcoreMode"] = true;
    app_.writeConfig(config);
  }

  MainAppUnderTest app_;
  HttpOrigin blocked_;
  const std::string bundle_ = std::filesystem::canonical(app_.dir() / "Zelto.app").string();
  const std::string executable_ = bundle_ + "/Contents/MacOS/Zelto";
  const std::string configFile_ = app_.dir() / "home/.local/share/Zelto/default.cfg";
  std::unique_ptr<ChildProcess> agent_;
};

TEST_F(BlockHoldsEndToEndTest, ABrokenOrDeletedFileAndAKillEndNothing) {
  auto [started, text] = zeltoctl({"start", "--for", "1h", "--hardcore", "--must-complete"});
  ASSERT_EQ(started, 0) << text;
  startAgent();
  ASSERT_TRUE(blocks()) << agentLog();

  for (const char* damage : {"broken", "deleted"}) {
    SCOPED_TRACE(damage);
    if (std::string(damage) == "broken") {
      app_.writeConfigText("{\"zeltoType\": 1, \"profiles\": [");
    } else {
      std::filesystem::remove(configFile_);
    }
    killApp();
    EXPECT_TRUE(blocks()) << agentLog();
  }

  // An edit on the deleted file starts from the last good configuration: the lock is kept.
  auto [added, addText] = zeltoctl({"sites", "add", "extra.example"});
  ASSERT_EQ(added, 0) << addText;
  EXPECT_EQ(stored()["zeltoHardcoreMode"], true);
  EXPECT_EQ(stored()["zeltoType"], 1);
  EXPECT_EQ(zeltoctl({"stop"}).first, 1);
  // (An agent restarted with a broken file: HostileConfigurationTest.)
}

TEST_F(BlockHoldsEndToEndTest, ALockedScheduleOutlastsAnotherFolderAndAnotherZone) {
  lockedScheduleInForce();
  startAgent();
  ASSERT_TRUE(blocks()) << agentLog();

  // The application's own folder setting pointed at an empty folder moves nothing.
  std::filesystem::create_directories(app_.dir() / "empty");
  writeSettings("Quarnix.zelto", {{"ProxyPort", app_.proxyPort()},
                                  {"logLevel", "debug"},
                                  {"ConfigurationDir", app_.dir() / "empty"}});
  killApp();
  EXPECT_TRUE(blocks()) << agentLog();

  // Nine hours east the schedule isn't in force now; the period seen in force runs on.
  stopAgent();
  startAgent("Asia/Tokyo");
  killApp();
  EXPECT_TRUE(blocks()) << agentLog();
  EXPECT_GT(agentSaid("Launching Zelto ....a locked period runs until its end"), 0u) << agentLog();
  EXPECT_EQ(zeltoctl({"stop"}).first, 1);
}

}  // namespace
}  // namespace zelto::testing
