// Many writers of one configuration at once: zeltoctl edits and timer saves in other processes,
// and a controller saving in this one (as the agent's does). Each takes the configuration's
// lock for its whole read-modify-write, so every edit is in the final file.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "App/Controller/Zelto.h"
#include "Platform/Clock.h"
#include "Support/ChildProcess.h"
#include "Support/TestEnv.h"

namespace zelto {
namespace {

using json = nlohmann::json;

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
