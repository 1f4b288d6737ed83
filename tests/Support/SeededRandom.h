// SeededRandom: a small generator (splitmix64) giving the same sequence on every machine and
// library, for generated test and benchmark data (the standard distributions differ between
// implementations). A plain value; one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelto::testing {

class SeededRandom {
 public:
  explicit SeededRandom(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  size_t below(size_t n) { return next() % n; }
  bool percent(int p) { return below(100) < static_cast<size_t>(p); }
  template <typename T>
  const T& pick(const std::vector<T>& items) {
    return items[below(items.size())];
  }

 private:
  uint64_t state_;
};

}  // namespace zelto::testing
