// The watchdog's reload of a large configuration: Zelto::refreshPrefs with the file unchanged
// and with the file changed (a new modification time each round); a whole check (the reload and
// the launch decision) on the unchanged file; and a whole load, as a process that starts does.
// The configuration is generated into a temporary home: 50 profiles with 1,000 site patterns
// and 40 schedules each (50,000 and 2,000), and 500 past sessions; the bundle is the built one
// beside the benchmark.
// Run by hand: build/zelto_bench --benchmark_filter='Refresh|Load|Check'
#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <spdlog/spdlog.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "Agent/App/Watchdog/LaunchDecision.h"
#include "App/Controller/Zelto.h"
#include "App/Data/Preferences/ZeltoPreferences.h"
#include "Platform/BundleInfo.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"

namespace {

using json = nlohmann::json;
using zelto::Env;
using zelto::Zelto;
using zelto::ZeltoPreferences;

constexpr int kProfiles = 50;
constexpr int kPatternsPerProfile = 1000;
constexpr int kSchedulesPerProfile = 40;
constexpr int kSessions = 500;

json largeConfiguration() {
  json config = ZeltoPreferences::defaultInstance()->toDictionary();
  json profiles = json::array();
  for (int p = 0; p < kProfiles; ++p) {
    json profile = zelto::ProfileZeltoPreferences::defaultInstance()->toDictionary();
    profile["name"] = fmt::format("Profile {}", p);
    json sites = json::array();
    for (int i = 0; i < kPatternsPerProfile; ++i) {
      sites.push_back(
          fmt::format("*.distraction-{:03}-{:04}.example.com/some/much/longer/path/*", p, i));
    }
    profile["blockedWebsites"] = std::move(sites);
    json schedules = json::array();
    for (int i = 0; i < kSchedulesPerProfile; ++i) {
      schedules.push_back({{"isEnabled", i % 3 != 0},
                           {"sortIndex", p * kSchedulesPerProfile + i},
                           {"scheduleType", 1 << (i % 7)},
                           {"fromDate", {{"hour", i % 24}, {"minute", 15}}},
                           {"toDate", {{"hour", (i + 2) % 24}, {"minute", 45}}},
                           {"uniqueID", fmt::format("S-{}-{}", p, i)}});
    }
    profile["schedules"] = std::move(schedules);
    profiles.push_back(std::move(profile));
  }
  config["profiles"] = std::move(profiles);
  json sessions = json::array();
  for (int i = 0; i < kSessions; ++i) {
    sessions.push_back(
        {{"date", "2026-01-01T10:00:00.000Z"}, {"interval", 1500}, {"zeltoType", 1}});
  }
  config["sessions"] = std::move(sessions);
  config["zeltoType"] = 2;
  return config;
}

// A temporary home holding the large configuration, the built bundle as the running one, and
// a controller over it; made once for every benchmark.
struct Setup {
  std::string home;
  std::string file;
  std::unique_ptr<Env::ScopedOverride> bundle;
  std::unique_ptr<Zelto> zelto;

  Setup() {
    spdlog::set_level(spdlog::level::warn);
    std::string pattern = (std::filesystem::temp_directory_path() / "zelto-bench-XXXXXX").string();
    home = ::mkdtemp(pattern.data()) ? pattern : std::string("/tmp");
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    zelto::LocalFileSystem fs;
    std::string here =
        zelto::path::deletingLastComponent(zelto::BundleInfo::currentExecutablePath());
    bundle = std::make_unique<Env::ScopedOverride>(
        Env::Services{.mainBundle = zelto::BundleInfo::forExecutable(
                          here + "/Zelto.app/Contents/MacOS/Agent.app/Contents/MacOS/Agent", fs)});
    file = home + "/data/Zelto/default.cfg";
    std::filesystem::create_directories(home + "/data/Zelto");
    std::ofstream(file) << largeConfiguration().dump();
    zelto = std::make_unique<Zelto>(Env::clock());
  }
  ~Setup() {
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
  }
};

Setup& setup() {
  static Setup instance;  // destroyed at exit, which removes the temporary home
  return instance;
}

void BM_RefreshUnchanged(benchmark::State& state) {
  Setup& s = setup();
  s.zelto->refreshPrefs();
  for (auto _ : state) s.zelto->refreshPrefs();
  state.counters["config_bytes"] = static_cast<double>(std::filesystem::file_size(s.file));
}

void BM_RefreshChanged(benchmark::State& state) {
  Setup& s = setup();
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::last_write_time(
        s.file, std::filesystem::last_write_time(s.file) + std::chrono::milliseconds(1));
    state.ResumeTiming();
    s.zelto->refreshPrefs();
  }
}

// The whole load of a process that starts (the agent, zeltoctl): read, parse, build.
void BM_Load(benchmark::State& state) {
  setup();
  for (auto _ : state) benchmark::DoNotOptimize(ZeltoPreferences::loadWithNamespace("default"));
}

void BM_CheckUnchanged(benchmark::State& state) {
  Setup& s = setup();
  s.zelto->refreshPrefs();
  for (auto _ : state) {
    s.zelto->refreshPrefs();
    benchmark::DoNotOptimize(zelto::LaunchDecision::decide(*s.zelto));
  }
}

BENCHMARK(BM_RefreshUnchanged)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RefreshChanged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckUnchanged)->Unit(benchmark::kMicrosecond);

}  // namespace
