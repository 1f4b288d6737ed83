// F::mapArray over 100k elements, sequential against parallel (DispatchQueue::global()), with a
// cheap block and a costlier one. Run by hand: build/zelto_bench --benchmark_filter=MapArray
#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "App/Helpers/Functional/F.h"

namespace {

using zelto::F;

constexpr size_t kElements = 100'000;

std::vector<double> input() {
  std::vector<double> out(kElements);
  for (size_t i = 0; i < kElements; ++i) out[i] = static_cast<double>(i) * 0.001;
  return out;
}

double cheap(double x) { return x * 2.0 + 1.0; }

double costly(double x) {
  double acc = x;
  for (int i = 0; i < 50; ++i) acc = std::sin(acc) + std::sqrt(acc * acc + 1.0);
  return acc;
}

// Sets the mode for one benchmark run, without the warning line of useConcurrency on the console.
void setParallel(bool parallel) {
  if (parallel) {
    const auto level = spdlog::get_level();
    spdlog::set_level(spdlog::level::err);
    F::useConcurrency();
    spdlog::set_level(level);
  } else {
    F::dontUseConcurrency();
  }
}

template <double (*Block)(double)>
void BM_MapArray(benchmark::State& state) {
  const std::vector<double> list = input();
  setParallel(state.range(0) != 0);
  for (auto _ : state) {
    auto result = F::mapArray(list, [](double x) { return Block(x); });
    benchmark::DoNotOptimize(result.data());
  }
  F::dontUseConcurrency();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kElements));
}

BENCHMARK(BM_MapArray<cheap>)->ArgName("parallel")->Arg(0)->Arg(1)->UseRealTime();
BENCHMARK(BM_MapArray<costly>)->ArgName("parallel")->Arg(0)->Arg(1)->UseRealTime();

}  // namespace
