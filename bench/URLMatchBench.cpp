// The URL decision on a large site list: 50,000 generated patterns (60% plain, 30% wildcard,
// 10% regex; fixed seed, no files) over 100,000 generated URLs. Measures ns per URL for the
// indexed decision and for the four-pass walk (on the first few hundred URLs: it is slow), and
// the rebuild of the matchers and their index. The site names are made-up words like real
// ones; "dense:1" makes them all of 16 syllables instead, so that every URL shares pieces of
// text with thousands of patterns (a hard case for the index). Run by hand:
//   build/zelto_bench --benchmark_filter=URLMatch
#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "App/Blocking/Helpers/ZeltoURLMatcherManager.h"
#include "App/Data/Preferences/ZeltoPreferences.h"
#include "Support/SeededRandom.h"

namespace {

using zelto::ZeltoURLMatcherManager;

constexpr size_t kPatterns = 50'000;
constexpr size_t kUrls = 100'000;
constexpr size_t kWalkedUrls = 300;

using Random = zelto::testing::SeededRandom;

const char* const kTlds[] = {"com", "org", "net", "de", "io", "co.uk"};
const char* const kPaths[] = {"news", "video", "watch", "login", "shop", "r", "feed", "search"};

// A made-up word of 2 to 4 syllables: a consonant and a vowel each (100 syllables), or when
// `dense` one of 16.
std::string word(Random& random, bool dense) {
  static const char* const kSyllables[] = {"ka", "to", "mi", "re", "su", "no", "la", "vi",
                                           "ze", "po", "da", "qu", "ex", "an", "or", "bel"};
  static constexpr std::string_view kConsonants = "bcdfghjklmnprstvwxyz";
  static constexpr std::string_view kVowels = "aeiou";
  std::string out;
  for (size_t n = 2 + random.below(3); n > 0; --n) {
    if (dense) {
      out += kSyllables[random.below(16)];
      continue;
    }
    out += kConsonants[random.below(kConsonants.size())];
    out += kVowels[random.below(kVowels.size())];
  }
  return out;
}

// Like a real site's name: a made-up word, or a common one with a made-up one, sometimes a
// number or a subdomain. When `dense`, a word and sometimes a number.
std::string host(Random& random, bool dense) {
  static const char* const kCommon[] = {"news", "shop", "video", "blog", "game", "chat",
                                        "live", "mail", "sport", "play", "tube", "bet"};
  std::string out = word(random, dense);
  if (dense) {
    if (random.percent(30)) out += std::to_string(random.below(100));
    return out + "." + kTlds[random.below(6)];
  }
  if (random.percent(25)) {
    out = random.percent(50) ? kCommon[random.below(12)] + out : out + kCommon[random.below(12)];
  }
  if (random.percent(15)) out += std::to_string(random.below(100));
  if (random.percent(10)) out = word(random, dense) + "." + out;
  return out + "." + kTlds[random.below(6)];
}

struct Lists {
  std::vector<std::string> patterns;
  std::vector<std::string> hosts;  // of the patterns, for URLs that hit or nearly hit them
  std::vector<std::string> urls;
};

Lists makeLists(bool dense) {
  Random random(42);
  Lists lists;
  for (size_t i = 0; i < kPatterns; ++i) {
    const std::string site = host(random, dense);
    lists.hosts.push_back(site);
    const size_t kind = random.below(100);
    std::string pattern;
    if (kind < 60) {
      pattern = random.percent(10) ? "www." + site : site;
      if (random.percent(20)) pattern += std::string("/") + kPaths[random.below(8)];
      if (random.percent(15)) pattern += "/";
    } else if (kind < 90) {
      switch (random.below(3)) {
        case 0:
          pattern = "*." + site;
          break;
        case 1:
          pattern = site + "/*";
          break;
        default:
          pattern = site + "/*" + kPaths[random.below(8)] + "*";
      }
    } else {
      std::string escaped;
      for (char c : site) escaped += c == '.' ? std::string("\\.") : std::string(1, c);
      switch (random.below(3)) {
        case 0:
          pattern = "/^https?://([a-z0-9-]+\\.)*" + escaped + "/";
          break;
        case 1:
          pattern =
              "/" + escaped + "/(" + kPaths[random.below(8)] + "|" + kPaths[random.below(8)] + ")/";
          break;
        default:
          pattern = "/" + word(random, dense) + "[0-9]+\\." + kTlds[random.below(6)] + "/";
      }
    }
    if (random.percent(3)) pattern.insert(0, random.percent(50) ? "+" : "-");
    lists.patterns.push_back(std::move(pattern));
  }
  for (size_t i = 0; i < kUrls; ++i) {
    // A third near the patterns' sites, the rest elsewhere.
    std::string site =
        random.percent(33) ? lists.hosts[random.below(kPatterns)] : host(random, dense);
    if (random.percent(20)) site[random.below(site.size())] = 'x';  // a near miss
    std::string url = random.percent(70) ? "https://" : "http://";
    if (random.percent(40)) url += random.percent(50) ? "www." : "m.";
    url += site + "/";
    for (size_t n = random.below(4); n > 0; --n) url += std::string(kPaths[random.below(8)]) + "/";
    if (random.percent(30)) url += "?id=" + std::to_string(random.below(1'000'000));
    lists.urls.push_back(std::move(url));
  }
  return lists;
}

// The lists, a record holding them and a manager built over it, made once for every benchmark.
struct Fixture {
  Lists lists;
  zelto::ZeltoPreferences prefs;
  zelto::NotificationCenter center;
  std::unique_ptr<ZeltoURLMatcherManager> manager;

  explicit Fixture(bool dense) : lists(makeLists(dense)) {
    prefs.profiles.emplace_back();
    prefs.profiles.front().blockedWebsites = lists.patterns;
    manager = std::make_unique<ZeltoURLMatcherManager>([this] { return &prefs; }, center);
    const auto level = spdlog::get_level();
    spdlog::set_level(spdlog::level::warn);  // not one "updating" line per rebuild
    manager->setup();
    spdlog::set_level(level);
  }
  static Fixture& get(bool dense = false) {
    if (dense) {
      static Fixture fixture(true);
      return fixture;
    }
    static Fixture fixture(false);
    return fixture;
  }
};

void BM_URLMatchIndexed(benchmark::State& state) {
  Fixture& f = Fixture::get(state.range(0) != 0);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.manager->decide(f.lists.urls[i]));
    if (++i == kUrls) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_URLMatchWalk(benchmark::State& state) {
  Fixture& f = Fixture::get();
  // One walk first: it asks every matcher, so each expression is compiled before the timing.
  benchmark::DoNotOptimize(f.manager->decideByWalking("http://warm-up.invalid/"));
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.manager->decideByWalking(f.lists.urls[i]));
    if (++i == kWalkedUrls) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_URLMatchRebuild(benchmark::State& state) {
  Fixture& f = Fixture::get();
  const auto level = spdlog::get_level();
  spdlog::set_level(spdlog::level::warn);
  // The matchers and the index are built when first needed: the rebuild is the update and that
  // first build (the expressions themselves compile when first asked).
  for (auto _ : state) {
    f.manager->updateMatches();
    benchmark::DoNotOptimize(f.manager->matches().size());
  }
  spdlog::set_level(level);
}

// A rebuild and then the whole corpus once: the expressions compile as they are first needed.
void BM_URLMatchRebuildAndFirstPass(benchmark::State& state) {
  Fixture& f = Fixture::get();
  const auto level = spdlog::get_level();
  spdlog::set_level(spdlog::level::warn);
  for (auto _ : state) {
    f.manager->updateMatches();
    for (const std::string& url : f.lists.urls) benchmark::DoNotOptimize(f.manager->decide(url));
  }
  spdlog::set_level(level);
  state.SetItemsProcessed(state.iterations() * kUrls);
}

// The rebuild first, on a heap that the others haven't churned yet.
BENCHMARK(BM_URLMatchRebuild)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_URLMatchIndexed)->ArgName("dense")->Arg(0)->Arg(1);
BENCHMARK(BM_URLMatchWalk);
BENCHMARK(BM_URLMatchRebuildAndFirstPass)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
