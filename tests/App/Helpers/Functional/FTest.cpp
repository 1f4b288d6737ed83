#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <limits>
#include <map>
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

TEST_F(FTest, EmptyCollectionsGiveNeutralResultsAndCallNothingInEitherMode) {
  const std::vector<int> empty;
  const std::map<int, int> emptyDict;
  for (bool parallel : {false, true}) {
    if (parallel) F::useConcurrency();
    std::atomic<int> calls{0};
    auto yes = [&](auto...) { return ++calls > 0; };
    auto order = [&](auto...) { return ++calls, 0; };
    F::eachInArray(empty, yes);
    F::eachInDict(emptyDict, yes);
    EXPECT_TRUE(F::mapArray(empty, [&](int x) { return ++calls + x; }).empty());
    EXPECT_TRUE(
        F::mapDict(emptyDict, [&](int, int v) { return std::optional(v + ++calls); }).empty());
    EXPECT_TRUE(F::filterArray(empty, yes).empty());
    EXPECT_TRUE(F::rejectDictionary(emptyDict, yes).empty());
    EXPECT_TRUE(F::allInArray(empty, [&](int) { return ++calls < 0; }));
    EXPECT_TRUE(F::allInDictionary(emptyDict, [&](int, int) { return ++calls < 0; }));
    EXPECT_FALSE(F::anyInArray(empty, yes));
    EXPECT_EQ(F::countInArray(empty, yes), 0u);
    EXPECT_EQ(F::maxArray(empty, order), std::nullopt);
    EXPECT_EQ(F::minDict(emptyDict, order), std::nullopt);
    EXPECT_EQ(F::reduceArray(empty, order, 42), 42);
    EXPECT_TRUE(F::mapRangeFrom(5, 5, [&](int64_t i) { return ++calls + i; }).empty());
    EXPECT_EQ(calls.load(), 0) << (parallel ? "parallel" : "sequential");
  }
}

struct Item {
  int value;
  int id;
};

TEST_F(FTest, SequentialOperations) {
  const std::vector<int> list{5, 2, 8, 1, 4};
  EXPECT_EQ(F::filterArray(list, [](int x) { return x % 2 == 0; }), (std::vector<int>{2, 8, 4}));
  EXPECT_EQ(F::rejectArray(list, [](int x) { return x % 2 == 0; }), (std::vector<int>{5, 1}));

  // Zip stops at the shorter list, whichever side it is on.
  const std::vector<std::string> five{"a", "b", "c", "d", "e"};
  const std::vector<int> three{1, 2, 3};
  auto zipped = F::zipArray(three, five);
  ASSERT_EQ(zipped.size(), 3u);
  EXPECT_EQ(zipped[2], std::make_pair(3, std::string("c")));
  EXPECT_EQ(F::zipArray(five, three).size(), 3u);

  // Drop-while: everything, nothing, or up to the first element that fails.
  const std::vector<int> rise{1, 2, 3, 1};
  EXPECT_TRUE(F::dropFromArray(rise, [](int) { return true; }).empty());
  EXPECT_EQ(F::dropFromArray(rise, [](int) { return false; }), rise);
  EXPECT_EQ(F::dropFromArray(rise, [](int x) { return x < 3; }), (std::vector<int>{3, 1}));

  // Indexes beyond the end are clamped, an empty list has no first element.
  EXPECT_EQ(F::first(std::vector<int>{}), std::nullopt);
  EXPECT_TRUE(F::tail(std::vector<int>{}).empty());
  EXPECT_EQ(F::arrayUntilIndex(list, 10), list);
  EXPECT_TRUE(F::arrayFromIndexOn(list, 10).empty());

  // mapDict leaves out a key whose result is none.
  const std::map<std::string, int> dict{{"a", 1}, {"b", 2}, {"c", 3}};
  auto mapped = F::mapDict(dict, [](const std::string& k, int v) {
    return k == "b" ? std::nullopt : std::optional(k + std::to_string(v));
  });
  EXPECT_EQ(mapped, (std::map<std::string, std::string>{{"a", "a1"}, {"c", "c3"}}));
}

TEST_F(FTest, OrderingsKeepTheFirstOfEqualElements) {
  const std::vector<Item> ties{{1, 0}, {9, 1}, {1, 2}, {9, 3}};
  auto spaceship = [](const Item& a, const Item& b) { return a.value <=> b.value; };
  EXPECT_EQ(F::maxArray(ties, spaceship)->id, 1);
  EXPECT_EQ(F::minArray(ties, spaceship)->id, 0);
  auto ids = F::mapArray(F::sort(ties, spaceship), [](const Item& i) { return i.id; });
  EXPECT_EQ(ids, (std::vector<int>{0, 2, 1, 3}));
  const std::map<int, std::string> dict{{1, "first"}, {2, "second"}};
  auto allSame = [](int, const std::string&, int, const std::string&) { return 0; };
  EXPECT_EQ(F::maxDict(dict, allSame), "first");
  EXPECT_EQ(F::minDict(dict, allSame), "first");
}

TEST_F(FTest, RangesAndRepetitions) {
  EXPECT_EQ(F::arrayFrom(3, 5), (std::vector<int64_t>{3, 4, 5}));  // both ends included
  EXPECT_TRUE(F::arrayFrom(5, 3).empty());
  const int64_t top = std::numeric_limits<int64_t>::max();
  EXPECT_EQ(F::arrayFrom(top - 1, top), (std::vector<int64_t>{top - 1, top}));

  auto identity = [](int64_t i) { return i; };
  EXPECT_EQ(F::mapRangeFrom(-2, 1, identity), (std::vector<int64_t>{-2, -1, 0}));  // end excluded
  EXPECT_TRUE(F::mapRangeFrom(5, 3, identity).empty());

  int calls = 0;
  F::times(0, [&] { ++calls; });
  F::times(-1, [&] { ++calls; });
  F::times(std::numeric_limits<int32_t>::min(), [&] { ++calls; });
  EXPECT_EQ(calls, 0);
  F::times(3, [&] { ++calls; });
  EXPECT_EQ(calls, 3);
}

TEST_F(FTest, ParallelAndSequentialGiveTheSameResults) {
  const std::vector<int> list = numbers(5000);
  std::map<int, int> dict;
  for (int i = 0; i < 3000; ++i) dict[i] = (i * 31) % 97;
  auto positive = [](int x) { return x > 0; };
  auto bigValue = [](int, int v) { return v > 50; };

  auto run = [&] {
    std::atomic<int64_t> each{0}, eachIndex{0}, eachDict{0};
    F::eachInArray(list, [&](int x) { each += x; });
    F::eachInArrayWithIndex(list, [&](int x, size_t i) { eachIndex += x * int64_t(i); });
    F::eachInDict(dict, [&](int k, int v) { eachDict += k * v; });
    return std::tuple(
        F::mapArray(list, [](int x) { return int64_t(x) * x; }), F::filterArray(list, positive),
        F::rejectArray(list, positive), F::filterDictionary(dict, bigValue),
        F::rejectDictionary(dict, bigValue),
        F::mapDict(dict, [](int k, int v) { return k % 3 ? std::optional(v) : std::nullopt; }),
        std::vector<bool>{F::allInArray(list, [](int x) { return x < 500; }),
                          F::allInArray(list, positive),
                          F::anyInArray(list, [](int x) { return x == 499; }),
                          F::anyInArray(list, [](int x) { return x > 1000; }),
                          F::allInDictionary(dict, [](int, int v) { return v < 97; }),
                          F::anyInDictionary(dict, [](int, int v) { return v == 96; })},
        F::countInArray(list, positive), F::countInDictionary(dict, bigValue),
        F::mapRangeFrom(-1000, 2500, [](int64_t i) { return i * 3 - 1; }),
        std::vector<int64_t>{each, eachIndex, eachDict});
  };

  const auto sequential = run();
  F::useConcurrency();
  ASSERT_NE(F::parallelQueue(), nullptr);
  EXPECT_EQ(run(), sequential);
  // And the answers are the right ones, not merely equal to each other.
  EXPECT_EQ(std::get<1>(sequential).size() + std::get<2>(sequential).size(), list.size());
  EXPECT_EQ(std::get<6>(sequential), (std::vector<bool>{true, false, true, false, true, true}));
  EXPECT_EQ(std::get<9>(sequential).size(), 3500u);
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
