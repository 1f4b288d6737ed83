#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <tuple>
#include <vector>

#include "App/Helpers/Functional/F.h"

namespace zelto {
namespace {

// Every test starts and ends with the initial settings: sequential, no queue.
class FTest : public ::testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    F::dontUseConcurrency();
    F::useQueue(nullptr);
  }
};

std::vector<int> numbers(int count) {
  std::vector<int> out;
  for (int i = 0; i < count; ++i) out.push_back((i * 7919) % 1000 - 500);
  return out;
}

// The operations the product uses (map and filter) give the same, right answers in both modes,
// and call nothing on an empty list.
TEST_F(FTest, SequentialAndParallelGiveTheSameAnswers) {
  const std::vector<int> list = numbers(5000);
  auto run = [&] {
    std::atomic<int> calls{0};
    const std::vector<int> empty;
    EXPECT_TRUE(F::mapArray(empty, [&](int x) { return ++calls + x; }).empty());
    EXPECT_TRUE(F::filterArray(empty, [&](int) { return ++calls > 0; }).empty());
    EXPECT_EQ(calls.load(), 0);
    return std::tuple(F::mapArray(list, [](int x) { return int64_t(x) * x; }),
                      F::filterArray(list, [](int x) { return x > 0; }));
  };
  const auto sequential = run();
  F::useConcurrency();
  ASSERT_NE(F::parallelQueue(), nullptr);
  EXPECT_EQ(run(), sequential);
  EXPECT_EQ(std::get<0>(sequential)[1], int64_t(list[1]) * list[1]);
  EXPECT_EQ(std::get<1>(sequential).front(), 419);  // order kept
  EXPECT_EQ(std::get<1>(sequential).size(), 2495u);
}

TEST_F(FTest, ParallelFilterKeepsAChosenNull) {
  // Unchosen slots must not be told apart by their value: a chosen null pointer stays.
  const std::vector<const char*> list{nullptr, "a", nullptr, "b"};
  F::useConcurrency();
  EXPECT_EQ(F::filterArray(list, [](const char* s) { return s == nullptr; }),
            (std::vector<const char*>{nullptr, nullptr}));
}

}  // namespace
}  // namespace zelto
