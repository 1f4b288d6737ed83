// The watchdog's whole decision for a main application that isn't running
// (LaunchDecision::decide), on a controller whose record holds N generated schedules, made in
// memory (no configuration file), in Europe/Berlin. Each decision is asked at a new moment, one
// second after the last, as successive checks are. Run by hand:
//   build/zelto_bench --benchmark_filter=Decide
#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Agent/App/Watchdog/LaunchDecision.h"
#include "App/Controller/Zelto.h"
#include "App/Data/Preferences/ScheduleZeltoPreferences.h"
#include "App/Data/Preferences/ZeltoPreferences.h"
#include "App/Data/Schedules/NSDateComponentsHelpers.h"
#include "Platform/Clock.h"
#include "Platform/DateCalendar.h"
#include "Platform/Directories.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"

namespace {

using namespace zelto;

const std::string kZone = "Europe/Berlin";

// A clock the benchmark moves by hand.
class SteppingClock final : public Clock {
 public:
  explicit SteppingClock(Date start) : now_(start) {}
  Date now() const override { return now_; }
  double monotonicSeconds() const override { return now_.secondsSince1970(); }
  void step() { now_ = now_.addingTimeInterval(1); }

 private:
  Date now_;
};

// `count` schedules of every type, mostly on, with start and end times on quarter hours: day
// periods, overnight ones and whole days. The same list on every run.
std::vector<ScheduleZeltoPreferences> generatedSchedules(int count) {
  uint32_t seed = 20261209;
  auto next = [&seed](uint32_t bound) {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<int32_t>((seed >> 8) % bound);
  };
  std::vector<ScheduleZeltoPreferences> schedules;
  for (int i = 0; i < count; ++i) {
    ScheduleZeltoPreferences schedule;
    schedule.isEnabled = next(8) != 0;
    schedule.sortIndex = static_cast<uint64_t>(next(static_cast<uint32_t>(count)));
    schedule.scheduleType = 1 + next(10);
    schedule.fromDate = NSDateComponentsHelpers::initWithHourMinute(next(24), 15 * next(4));
    schedule.toDate = NSDateComponentsHelpers::initWithHourMinute(next(24), 15 * next(4));
    schedule.uniqueID = "schedule-" + std::to_string(i);
    schedules.push_back(std::move(schedule));
  }
  return schedules;
}

// A private, empty home directory for the benchmark's record, removed afterwards.
class ScratchHome {
 public:
  ScratchHome()
      : path_(std::filesystem::temp_directory_path() /
              ("zelto-bench-" + std::to_string(std::hash<const void*>{}(this)))),
        directories_(fs_,
                     [this](const std::string& name) -> std::optional<std::string> {
                       if (name == "HOME") return path_.string();
                       return std::nullopt;
                     },
                     [] { return std::optional<std::string>(); }) {
    std::filesystem::create_directories(path_);
  }
  ~ScratchHome() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  Directories& directories() { return directories_; }

 private:
  std::filesystem::path path_;
  LocalFileSystem fs_;
  Directories directories_;
};

void BM_Decide(benchmark::State& state) {
  spdlog::set_level(spdlog::level::off);
  ScratchHome home;
  SteppingClock clock(*DateCalendar::dateFromComponents(2026, 12, 9, 8, 0, 0, kZone));
  Env::ScopedOverride environment(
      Env::Services{.clock = &clock, .directories = &home.directories()});
  ZeltoPreferences::resetSharedInstanceForTesting();
  {
    Zelto zelto(clock);
    ZeltoPreferences* record = zelto.prefs();
    if (record == nullptr || record->defaultProfile() == nullptr) {
      state.SkipWithError("no record");
      return;
    }
    record->zeltoType = 2;
    record->currentTimeZone = kZone;
    record->defaultProfile()->schedules = generatedSchedules(static_cast<int>(state.range(0)));
    for (auto _ : state) {
      clock.step();
      LaunchDecision decision = LaunchDecision::decide(zelto);
      benchmark::DoNotOptimize(decision);
    }
  }
  ZeltoPreferences::resetSharedInstanceForTesting();
  spdlog::set_level(spdlog::level::info);
}

BENCHMARK(BM_Decide)->ArgName("schedules")->Arg(20)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace
