#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "App/Helpers/Functional/F.h"
#include "Platform/MainThread.h"
#include "Support/LogCapture.h"

namespace zelto {
namespace {

using namespace std::chrono_literals;

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

// The operations the product uses (map, filter, reject, ranges, repetition) give the same,
// right answers in both modes, and call nothing on an empty list.
TEST_F(FTest, SequentialAndParallelGiveTheSameAnswers) {
  const std::vector<int> list = numbers(5000);
  auto positive = [](int x) { return x > 0; };
  auto run = [&] {
    std::atomic<int> calls{0};
    const std::vector<int> empty;
    EXPECT_TRUE(F::mapArray(empty, [&](int x) { return ++calls + x; }).empty());
    EXPECT_TRUE(F::filterArray(empty, [&](int) { return ++calls > 0; }).empty());
    EXPECT_EQ(calls.load(), 0);
    return std::tuple(F::mapArray(list, [](int x) { return int64_t(x) * x; }),
                      F::filterArray(list, positive), F::rejectArray(list, positive));
  };
  const auto sequential = run();
  F::useConcurrency();
  ASSERT_NE(F::parallelQueue(), nullptr);
  EXPECT_EQ(run(), sequential);
  EXPECT_EQ(std::get<0>(sequential)[1], int64_t(list[1]) * list[1]);
  EXPECT_EQ(std::get<1>(sequential).size() + std::get<2>(sequential).size(), list.size());
  EXPECT_EQ(std::get<1>(sequential).front(), 419);  // order kept

  EXPECT_EQ(F::arrayFrom(3, 5), (std::vector<int64_t>{3, 4, 5}));  // both ends included
  EXPECT_TRUE(F::arrayFrom(5, 3).empty());
  const int64_t top = std::numeric_limits<int64_t>::max();
  EXPECT_EQ(F::arrayFrom(top - 1, top), (std::vector<int64_t>{top - 1, top}));
  int calls = 0;
  F::times(std::numeric_limits<int32_t>::min(), [&] { ++calls; });
  F::times(3, [&] { ++calls; });
  EXPECT_EQ(calls, 3);
}

TEST_F(FTest, ParallelFilterKeepsAChosenNull) {
  // Unchosen slots must not be told apart by their value: a chosen null pointer stays.
  const std::vector<const char*> list{nullptr, "a", nullptr, "b"};
  F::useConcurrency();
  EXPECT_EQ(F::filterArray(list, [](const char* s) { return s == nullptr; }),
            (std::vector<const char*>{nullptr, nullptr}));
  EXPECT_EQ(F::rejectArray(list, [](const char* s) { return s != nullptr; }),
            (std::vector<const char*>{nullptr, nullptr}));
}

TEST_F(FTest, ParallelOperationsFromInsideAWorkerDoNotDeadlock) {
  F::useConcurrency();
  std::promise<std::vector<int>> done;
  F::asynchronously([&] {
    done.set_value(F::mapArray(numbers(100), [](int x) {
      return F::countInArray(numbers(50), [x](int y) { return y < x; }) > 0 ? 1 : 0;
    }));
  });
  auto result = done.get_future();
  ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(result.get().size(), 100u);
}

TEST_F(FTest, ModeSwitches) {
  const std::string line =
      "ATTENTION - USING CONCURRENCY WILL RESULT IN A NON-SEQUENTIAL EXECUTION OF THE PASSED "
      "BLOCKS";
  testing::LogCapture capture;
  F::useConcurrency();
  F::useConcurrency();
  EXPECT_EQ(capture.count(line), 2u);
  EXPECT_TRUE(capture.has(spdlog::level::warn, line));

  // `concurrently` turns parallel mode on for its block only, even when the block throws.
  F::dontUseConcurrency();
  bool inside = false;
  F::concurrently([&] { inside = F::usesConcurrency(); });
  EXPECT_TRUE(inside);
  EXPECT_FALSE(F::usesConcurrency());
  EXPECT_EQ(capture.count(line), 3u);
  EXPECT_THROW(F::concurrently([] { throw std::runtime_error("block"); }), std::runtime_error);
  EXPECT_FALSE(F::usesConcurrency());
}

TEST_F(FTest, OnUIThreadRunsOnTheMainThreadAndWaits) {
  ASSERT_TRUE(MainThread::isMainThread());
  int posts = 0;
  MainThread::setExecutor([&](MainThread::Task) { ++posts; });
  bool ran = false;
  F::onUIThread([&] { ran = true; });  // on the main thread: at once, nothing posted
  EXPECT_TRUE(ran);
  EXPECT_EQ(posts, 0);

  std::promise<MainThread::Task> posted;
  MainThread::setExecutor([&](MainThread::Task task) { posted.set_value(std::move(task)); });
  std::thread::id ranOn;
  auto other = std::async(std::launch::async, [&] {
    bool done = false;
    F::onUIThread([&] {
      ranOn = std::this_thread::get_id();
      done = true;
    });
    return done;  // it has run by the time onUIThread returns
  });
  auto task = posted.get_future();
  if (task.wait_for(10s) == std::future_status::ready) task.get()();
  EXPECT_TRUE(other.get());
  MainThread::setExecutor(nullptr);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

}  // namespace
}  // namespace zelto
