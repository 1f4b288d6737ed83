// One whole watchdog check as the 75-second timer runs it while the main application is not
// running, in schedule mode: WatchdogManager::check, with the configuration re-read as the code
// on the branch does it and the launch decision made from every schedule.
//
// The configurations are bench/configs/typical.json and the generated large.json (build dir),
// each in a private home (TestEnv), read in Europe/Berlin at 03:00 on a Wednesday, when no
// schedule blocks or starts within five minutes: the check decides to wait. The workspace and
// the run loop are the tests' fakes (the process table is not read here: the end-to-end
// figures of scripts/bench include it). Log lines are formatted at the agent's default level
// (info), then dropped. Reported as CPU time per check; a set-up that doesn't load, or a check
// that launches, is an error, not a figure.
//
// Run alone: build/zelto_bench --benchmark_filter=WholeCheck
#include <benchmark/benchmark.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "Agent/App/Watchdog/WatchdogManager.h"
#include "App/Data/Preferences/JSONValues.h"
#include "Support/FakeClock.h"
#include "Support/FakeFileWatcher.h"
#include "Support/FakeRunLoop.h"
#include "Support/FakeWorkspace.h"
#include "Support/TestEnv.h"

namespace zelto {
namespace {

constexpr const char* kCheckTime = "2026-12-09T03:00:00+01:00";
constexpr const char* kTimeZone = "Europe/Berlin";

std::optional<std::string> readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Installs, for its scope, a default logger at the agent's default level that formats every
// line and writes none.
class DroppedLog {
 public:
  DroppedLog() : previous_(spdlog::default_logger()) {
    auto logger =
        std::make_shared<spdlog::logger>("bench", std::make_shared<spdlog::sinks::null_sink_mt>());
    logger->set_level(spdlog::level::info);
    spdlog::set_default_logger(logger);
  }
  ~DroppedLog() { spdlog::set_default_logger(previous_); }
  DroppedLog(const DroppedLog&) = delete;
  DroppedLog& operator=(const DroppedLog&) = delete;

 private:
  std::shared_ptr<spdlog::logger> previous_;
};

// A watchdog set up on a private home holding `config`, its main application not running.
class Watchdog {
 public:
  explicit Watchdog(const std::string& config) {
    ZeltoPreferences::resetSharedInstanceForTesting();
    env_.temp().write(".local/share/Zelto/default.cfg", config);
    clock_.setNow(*JSONValues::parseDate(kCheckTime));
    zelto_ = std::make_unique<Zelto>(clock_);
    if (zelto_->prefs() != nullptr) zelto_->prefs()->currentTimeZone = kTimeZone;
    watchdog_ = std::make_unique<WatchdogManager>(loop_, clock_, workspace_, files_, zelto_.get());
    watchdog_->setup();
  }
  ~Watchdog() {
    watchdog_.reset();
    zelto_.reset();
    ZeltoPreferences::resetSharedInstanceForTesting();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // Why the set-up is not the one to measure, if it isn't.
  std::optional<std::string> problem() {
    const ZeltoPreferences* prefs = zelto_->prefs();
    if (prefs == nullptr) return "the configuration did not load";
    if (!zelto_->isSchedule()) return "the configuration is not in schedule mode";
    if (prefs->getAllSortedSchedules().empty()) return "the configuration holds no schedule";
    if (!workspace_.launches().empty()) return "the check launched the main application";
    return std::nullopt;
  }

  void check() { watchdog_->check(); }

 private:
  testing::TestEnv env_{testing::builtAgentBundle()};
  FakeClock clock_;
  Env::ScopedOverride clockOverride_{Env::Services{.clock = &clock_}};
  FakeRunLoop loop_{clock_};
  FakeWorkspace workspace_;
  FakeFileWatcher files_;
  std::unique_ptr<Zelto> zelto_;
  std::unique_ptr<WatchdogManager> watchdog_;
};

void BM_WholeCheck(benchmark::State& state, const std::string& path) {
  auto config = readWholeFile(path);
  if (!config) {
    state.SkipWithError(("no configuration at " + path).c_str());
    return;
  }
  DroppedLog dropped;
  Watchdog watchdog(*config);
  if (auto problem = watchdog.problem()) {
    state.SkipWithError(problem->c_str());
    return;
  }
  for (auto _ : state) watchdog.check();
  if (auto problem = watchdog.problem()) state.SkipWithError(problem->c_str());
}

BENCHMARK_CAPTURE(BM_WholeCheck, typical, std::string(ZELTO_BENCH_SOURCE_CONFIGS) + "/typical.json")
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_WholeCheck, large, std::string(ZELTO_BENCH_BUILD_CONFIGS) + "/large.json")
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zelto
