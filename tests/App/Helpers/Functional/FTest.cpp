#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <compare>
#include <cstdint>
#include <deque>
#include <future>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "App/Helpers/Functional/F.h"
#include "Platform/MainThread.h"
#include "Support/LogCapture.h"

namespace zelto {
namespace {

using namespace std::chrono_literals;

const std::string kConcurrencyLine =
    "ATTENTION - USING CONCURRENCY WILL RESULT IN A NON-SEQUENTIAL EXECUTION OF THE PASSED BLOCKS";

// Every test starts and ends with the initial settings: sequential, no queue.
class FTest : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    F::dontUseConcurrency();
    F::useQueue(nullptr);
  }
};

int threeWay(int a, int b) { return a < b ? -1 : (a > b ? 1 : 0); }

std::vector<int> numbers(int count) {
  std::vector<int> out;
  for (int i = 0; i < count; ++i) out.push_back((i * 7919) % 1000 - 500);
  return out;
}

// ---------------------------------------------------------------------------------------------
// Empty collections

TEST_F(FTest, EmptyListGivesNeutralResultsAndCallsNothing) {
  const std::vector<int> empty;
  int calls = 0;
  auto pred = [&](int) {
    ++calls;
    return true;
  };
  F::eachInArray(empty, [&](int) { ++calls; });
  F::eachInArrayWithIndex(empty, [&](int, size_t) { ++calls; });
  EXPECT_TRUE(F::mapArray(empty, [&](int x) { return ++calls + x; }).empty());
  EXPECT_TRUE(F::filterArray(empty, pred).empty());
  EXPECT_TRUE(F::rejectArray(empty, pred).empty());
  EXPECT_TRUE(F::bindArray(empty, [&](int x) { return std::vector<int>{x, ++calls}; }).empty());
  EXPECT_TRUE(F::zipArray(empty, std::vector<std::string>{"a"}).empty());
  EXPECT_TRUE(F::groupArray(empty, [&](int x) { return x + ++calls; }).empty());
  EXPECT_TRUE(F::dropFromArray(empty, pred).empty());
  EXPECT_TRUE(F::allInArray(empty, [&](int) { return ++calls < 0; }));
  EXPECT_FALSE(F::anyInArray(empty, pred));
  EXPECT_EQ(F::countInArray(empty, pred), 0u);
  EXPECT_EQ(F::maxArray(empty, [&](int a, int b) { return ++calls, threeWay(a, b); }),
            std::nullopt);
  EXPECT_EQ(F::minArray(empty, [&](int a, int b) { return ++calls, threeWay(a, b); }),
            std::nullopt);
  EXPECT_EQ(F::reduceArray(
                empty, [&](int m, int x) { return ++calls + m + x; }, 42),
            42);
  EXPECT_EQ(calls, 0);
}

TEST_F(FTest, EmptyDictionaryGivesNeutralResultsAndCallsNothing) {
  const std::map<std::string, int> empty;
  int calls = 0;
  auto pred = [&](const std::string&, int) {
    ++calls;
    return true;
  };
  auto order = [&](const std::string&, int a, const std::string&, int b) {
    ++calls;
    return threeWay(a, b);
  };
  F::eachInDict(empty, [&](const std::string&, int) { ++calls; });
  EXPECT_TRUE(F::mapDict(empty, [&](const std::string&, int v) -> std::optional<int> {
                ++calls;
                return v;
              }).empty());
  EXPECT_TRUE(F::filterDictionary(empty, pred).empty());
  EXPECT_TRUE(F::rejectDictionary(empty, pred).empty());
  EXPECT_TRUE(F::allInDictionary(empty, [&](const std::string&, int) { return ++calls < 0; }));
  EXPECT_FALSE(F::anyInDictionary(empty, pred));
  EXPECT_EQ(F::countInDictionary(empty, pred), 0u);
  EXPECT_EQ(F::maxDict(empty, order), std::nullopt);
  EXPECT_EQ(F::minDict(empty, order), std::nullopt);
  EXPECT_EQ(F::reduceDictionary(
                empty, [&](std::string m, const std::string&, int) { return m + "x"; },
                std::string("memo")),
            "memo");
  EXPECT_EQ(calls, 0);
}

TEST_F(FTest, EmptyCollectionsInParallelModeCallNothingEither) {
  F::useConcurrency();
  const std::vector<int> empty;
  const std::map<int, int> emptyDict;
  std::atomic<int> calls{0};
  F::eachInArray(empty, [&](int) { ++calls; });
  F::eachInDict(emptyDict, [&](int, int) { ++calls; });
  EXPECT_TRUE(F::mapArray(empty, [&](int x) { return ++calls + x; }).empty());
  EXPECT_TRUE(F::filterArray(empty, [&](int) { return ++calls > 0; }).empty());
  EXPECT_TRUE(F::allInArray(empty, [&](int) { return ++calls < 0; }));
  EXPECT_FALSE(F::anyInDictionary(emptyDict, [&](int, int) { return ++calls > 0; }));
  EXPECT_EQ(F::countInArray(empty, [&](int) { return ++calls > 0; }), 0u);
  EXPECT_TRUE(F::mapRangeFrom(5, 5, [&](int64_t i) { return ++calls + i; }).empty());
  EXPECT_EQ(calls.load(), 0);
}

// ---------------------------------------------------------------------------------------------
// Lists, sequential

TEST_F(FTest, EachWalksTheListInOrder) {
  const std::vector<std::string> list{"a", "b", "c"};
  std::string seen;
  F::eachInArray(list, [&](const std::string& s) { seen += s; });
  EXPECT_EQ(seen, "abc");
  std::vector<size_t> indexes;
  F::eachInArrayWithIndex(list, [&](const std::string&, size_t i) { indexes.push_back(i); });
  EXPECT_EQ(indexes, (std::vector<size_t>{0, 1, 2}));
}

TEST_F(FTest, MapKeepsOrderAndMayChangeTheType) {
  const std::vector<int> list{3, 1, 2};
  EXPECT_EQ(F::mapArray(list, [](int x) { return std::to_string(x * 10); }),
            (std::vector<std::string>{"30", "10", "20"}));
}

TEST_F(FTest, BindJoinsTheBlockResultsInOrder) {
  const std::vector<int> list{1, 2, 3};
  EXPECT_EQ(F::bindArray(list, [](int x) { return std::vector<int>(static_cast<size_t>(x), x); }),
            (std::vector<int>{1, 2, 2, 3, 3, 3}));
}

TEST_F(FTest, ZipOfThreeAndFiveGivesThreePairs) {
  const std::vector<int> three{1, 2, 3};
  const std::vector<std::string> five{"a", "b", "c", "d", "e"};
  auto zipped = F::zipArray(three, five);
  ASSERT_EQ(zipped.size(), 3u);
  EXPECT_EQ(zipped[0], std::make_pair(1, std::string("a")));
  EXPECT_EQ(zipped[2], std::make_pair(3, std::string("c")));
  EXPECT_EQ(F::zipArray(five, three).size(), 3u);
}

TEST_F(FTest, ReduceFoldsInOrder) {
  const std::vector<std::string> list{"a", "b", "c"};
  EXPECT_EQ(
      F::reduceArray(
          list, [](std::string memo, const std::string& s) { return memo + s; }, std::string(">")),
      ">abc");
}

TEST_F(FTest, FilterAndRejectKeepOrder) {
  const std::vector<int> list{5, 2, 8, 1, 4};
  auto even = [](int x) { return x % 2 == 0; };
  EXPECT_EQ(F::filterArray(list, even), (std::vector<int>{2, 8, 4}));
  EXPECT_EQ(F::rejectArray(list, even), (std::vector<int>{5, 1}));
}

TEST_F(FTest, AllStopsAtTheFirstNoAndAnyAtTheFirstYesSequentially) {
  const std::vector<int> list{1, 2, 3, 4};
  int calls = 0;
  EXPECT_FALSE(F::allInArray(list, [&](int x) { return ++calls, x < 2; }));
  EXPECT_EQ(calls, 2);
  calls = 0;
  EXPECT_TRUE(F::anyInArray(list, [&](int x) { return ++calls, x == 3; }));
  EXPECT_EQ(calls, 3);
  EXPECT_TRUE(F::allInArray(list, [](int x) { return x > 0; }));
  EXPECT_FALSE(F::anyInArray(list, [](int x) { return x > 4; }));
  EXPECT_EQ(F::countInArray(list, [](int x) { return x % 2 == 1; }), 2u);
}

struct Item {
  int value;
  int id;
};

TEST_F(FTest, MaxAndMinOverEqualElementsReturnTheFirst) {
  const std::vector<Item> list{{7, 0}, {7, 1}, {7, 2}};
  auto byValue = [](const Item& a, const Item& b) { return threeWay(a.value, b.value); };
  EXPECT_EQ(F::maxArray(list, byValue)->id, 0);
  EXPECT_EQ(F::minArray(list, byValue)->id, 0);
}

TEST_F(FTest, MaxAndMinAcceptIntOrThreeWayOrderings) {
  const std::vector<int> list{4, 9, 1, 9, 1};
  EXPECT_EQ(F::maxArray(list, threeWay), 9);
  EXPECT_EQ(F::minArray(list, threeWay), 1);
  EXPECT_EQ(F::maxArray(list, [](int a, int b) { return a <=> b; }), 9);
  EXPECT_EQ(F::minArray(list, [](int a, int b) { return std::weak_order(a, b); }), 1);
  const std::vector<Item> ties{{1, 0}, {9, 1}, {1, 2}, {9, 3}};
  auto byValue = [](const Item& a, const Item& b) { return a.value <=> b.value; };
  EXPECT_EQ(F::maxArray(ties, byValue)->id, 1);
  EXPECT_EQ(F::minArray(ties, byValue)->id, 0);
}

TEST_F(FTest, GroupKeepsElementOrderWithinEachKey) {
  const std::vector<std::string> list{"apple", "bee", "avocado", "bat", "cat"};
  auto groups = F::groupArray(list, [](const std::string& s) { return s.front(); });
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groups['a'], (std::vector<std::string>{"apple", "avocado"}));
  EXPECT_EQ(groups['b'], (std::vector<std::string>{"bee", "bat"}));
  EXPECT_EQ(groups['c'], (std::vector<std::string>{"cat"}));
}

TEST_F(FTest, DropWhileEdges) {
  const std::vector<int> list{1, 2, 3, 1};
  EXPECT_TRUE(F::dropFromArray(list, [](int) { return true; }).empty());
  EXPECT_EQ(F::dropFromArray(list, [](int) { return false; }), list);
  EXPECT_EQ(F::dropFromArray(list, [](int x) { return x < 3; }), (std::vector<int>{3, 1}));
}

TEST_F(FTest, ArrayFromIncludesBothEnds) {
  EXPECT_EQ(F::arrayFrom(3, 5), (std::vector<int64_t>{3, 4, 5}));
  EXPECT_TRUE(F::arrayFrom(5, 3).empty());
  EXPECT_EQ(F::arrayFrom(4, 4), (std::vector<int64_t>{4}));
  const int64_t top = std::numeric_limits<int64_t>::max();
  EXPECT_EQ(F::arrayFrom(top - 1, top), (std::vector<int64_t>{top - 1, top}));
}

TEST_F(FTest, MapRangeExcludesTheEndAndSkipsEmptyRanges) {
  std::vector<int64_t> seen;
  auto block = [&](int64_t i) {
    seen.push_back(i);
    return i * 10;
  };
  EXPECT_EQ(F::mapRangeFrom(3, 5, block), (std::vector<int64_t>{30, 40}));
  EXPECT_EQ(seen, (std::vector<int64_t>{3, 4}));
  seen.clear();
  EXPECT_TRUE(F::mapRangeFrom(5, 3, block).empty());
  EXPECT_TRUE(F::mapRangeFrom(5, 5, block).empty());
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(F::mapRangeFrom(-2, 1, [](int64_t i) { return i; }), (std::vector<int64_t>{-2, -1, 0}));
}

TEST_F(FTest, TimesNeverCallsForZeroOrNegative) {
  int calls = 0;
  F::times(0, [&] { ++calls; });
  F::times(-1, [&] { ++calls; });
  F::times(std::numeric_limits<int32_t>::min(), [&] { ++calls; });
  EXPECT_EQ(calls, 0);
  F::times(3, [&] { ++calls; });
  EXPECT_EQ(calls, 3);
}

TEST_F(FTest, ListExtras) {
  const std::vector<int> list{3, 1, 2};
  EXPECT_EQ(F::sort(list, threeWay), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(F::sort(list, [](int a, int b) { return b <=> a; }), (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(F::first(list), 3);
  EXPECT_EQ(F::first(std::vector<int>{}), std::nullopt);
  EXPECT_EQ(F::tail(list), (std::vector<int>{1, 2}));
  EXPECT_TRUE(F::tail(std::vector<int>{}).empty());
  EXPECT_EQ(F::reverse(list), (std::vector<int>{2, 1, 3}));
  EXPECT_EQ(F::arrayUntilIndex(list, 2), (std::vector<int>{3, 1}));
  EXPECT_EQ(F::arrayUntilIndex(list, 0), std::vector<int>{});
  EXPECT_EQ(F::arrayUntilIndex(list, 10), list);  // clamped
  EXPECT_EQ(F::arrayFromIndexOn(list, 1), (std::vector<int>{1, 2}));
  EXPECT_EQ(F::arrayFromIndexOn(list, 3), std::vector<int>{});
  EXPECT_EQ(F::arrayFromIndexOn(list, 10), std::vector<int>{});  // clamped
}

TEST_F(FTest, SortKeepsEqualElementsInOrder) {
  const std::vector<Item> list{{2, 0}, {1, 1}, {2, 2}, {1, 3}};
  auto sorted = F::sort(list, [](const Item& a, const Item& b) { return a.value <=> b.value; });
  std::vector<int> ids = F::mapArray(sorted, [](const Item& i) { return i.id; });
  EXPECT_EQ(ids, (std::vector<int>{1, 3, 0, 2}));
}

// ---------------------------------------------------------------------------------------------
// Dictionaries, sequential

TEST_F(FTest, DictionaryOperationsWalkTheMapInKeyOrder) {
  const std::map<std::string, int> dict{{"b", 2}, {"a", 1}, {"c", 3}};
  std::string keys;
  F::eachInDict(dict, [&](const std::string& k, int) { keys += k; });
  EXPECT_EQ(keys, "abc");
  EXPECT_EQ(
      F::reduceDictionary(
          dict,
          [](std::string m, const std::string& k, int v) { return m + k + std::to_string(v); },
          std::string()),
      "a1b2c3");
  auto odd = [](const std::string&, int v) { return v % 2 == 1; };
  EXPECT_EQ(F::filterDictionary(dict, odd), (std::map<std::string, int>{{"a", 1}, {"c", 3}}));
  EXPECT_EQ(F::rejectDictionary(dict, odd), (std::map<std::string, int>{{"b", 2}}));
  EXPECT_FALSE(F::allInDictionary(dict, odd));
  EXPECT_TRUE(F::anyInDictionary(dict, odd));
  EXPECT_EQ(F::countInDictionary(dict, odd), 2u);
}

TEST_F(FTest, MapDictLeavesOutKeysWhoseResultIsNone) {
  const std::map<std::string, int> dict{{"a", 1}, {"b", 2}, {"c", 3}};
  auto mapped = F::mapDict(dict, [](const std::string& k, int v) -> std::optional<std::string> {
    if (k == "b") return std::nullopt;
    return k + std::to_string(v);
  });
  EXPECT_EQ(mapped, (std::map<std::string, std::string>{{"a", "a1"}, {"c", "c3"}}));
}

TEST_F(FTest, MaxAndMinDictReturnTheBestValueAndTiesKeepTheFirstEntry) {
  const std::map<std::string, int> dict{{"a", 5}, {"b", 9}, {"c", 1}, {"d", 9}};
  auto byValue = [](const std::string&, int a, const std::string&, int b) { return a <=> b; };
  EXPECT_EQ(F::maxDict(dict, byValue), 9);
  EXPECT_EQ(F::minDict(dict, byValue), 1);
  // Ties keep the first entry enumerated: order by value, report the key.
  const std::map<int, std::string> ties{{1, "first"}, {2, "second"}};
  auto allSame = [](int, const std::string&, int, const std::string&) { return 0; };
  EXPECT_EQ(F::maxDict(ties, allSame), "first");
  EXPECT_EQ(F::minDict(ties, allSame), "first");
}

// ---------------------------------------------------------------------------------------------
// Parallel mode gives the same results as sequential mode

TEST_F(FTest, ParallelAndSequentialGiveTheSameResults) {
  const std::vector<int> list = numbers(5000);
  std::map<int, int> dict;
  for (int i = 0; i < 3000; ++i) dict[i] = (i * 31) % 97;

  auto square = [](int x) { return static_cast<int64_t>(x) * x; };
  auto positive = [](int x) { return x > 0; };
  auto bigValue = [](int, int v) { return v > 50; };
  auto belowBound = [](int x) { return x < 500; };
  auto hasTarget = [](int x) { return x == 499; };
  auto mapValue = [](int k, int v) -> std::optional<std::string> {
    if (k % 3 == 0) return std::nullopt;
    return std::to_string(v);
  };
  auto rangeBlock = [](int64_t i) { return i * 3 - 1; };

  struct Results {
    std::vector<int64_t> mapped;
    std::vector<int> filtered, rejected;
    std::map<int, int> filteredDict, rejectedDict;
    std::map<int, std::string> mappedDict;
    bool all, allFalse, any, anyFalse, allDict, anyDict;
    size_t count, countDict;
    std::vector<int64_t> range;
    int64_t eachSum, eachIndexSum, eachDictSum;
  };
  auto run = [&] {
    Results r;
    r.mapped = F::mapArray(list, square);
    r.filtered = F::filterArray(list, positive);
    r.rejected = F::rejectArray(list, positive);
    r.filteredDict = F::filterDictionary(dict, bigValue);
    r.rejectedDict = F::rejectDictionary(dict, bigValue);
    r.mappedDict = F::mapDict(dict, mapValue);
    r.all = F::allInArray(list, belowBound);
    r.allFalse = F::allInArray(list, positive);
    r.any = F::anyInArray(list, hasTarget);
    r.anyFalse = F::anyInArray(list, [](int x) { return x > 1000; });
    r.allDict = F::allInDictionary(dict, [](int, int v) { return v < 97; });
    r.anyDict = F::anyInDictionary(dict, [](int, int v) { return v == 96; });
    r.count = F::countInArray(list, positive);
    r.countDict = F::countInDictionary(dict, bigValue);
    r.range = F::mapRangeFrom(-1000, 2500, rangeBlock);
    std::atomic<int64_t> each{0}, eachIndex{0}, eachDict{0};
    F::eachInArray(list, [&](int x) { each += x; });
    F::eachInArrayWithIndex(list,
                            [&](int x, size_t i) { eachIndex += x * static_cast<int64_t>(i); });
    F::eachInDict(dict, [&](int k, int v) { eachDict += k * v; });
    r.eachSum = each;
    r.eachIndexSum = eachIndex;
    r.eachDictSum = eachDict;
    return r;
  };

  const Results sequential = run();
  F::useConcurrency();
  ASSERT_NE(F::parallelQueue(), nullptr);
  const Results parallel = run();
  F::dontUseConcurrency();

  EXPECT_EQ(parallel.mapped, sequential.mapped);
  EXPECT_EQ(parallel.filtered, sequential.filtered);
  EXPECT_EQ(parallel.rejected, sequential.rejected);
  EXPECT_EQ(parallel.filteredDict, sequential.filteredDict);
  EXPECT_EQ(parallel.rejectedDict, sequential.rejectedDict);
  EXPECT_EQ(parallel.mappedDict, sequential.mappedDict);
  EXPECT_EQ(parallel.all, sequential.all);
  EXPECT_EQ(parallel.allFalse, sequential.allFalse);
  EXPECT_EQ(parallel.any, sequential.any);
  EXPECT_EQ(parallel.anyFalse, sequential.anyFalse);
  EXPECT_EQ(parallel.allDict, sequential.allDict);
  EXPECT_EQ(parallel.anyDict, sequential.anyDict);
  EXPECT_EQ(parallel.count, sequential.count);
  EXPECT_EQ(parallel.countDict, sequential.countDict);
  EXPECT_EQ(parallel.range, sequential.range);
  EXPECT_EQ(parallel.eachSum, sequential.eachSum);
  EXPECT_EQ(parallel.eachIndexSum, sequential.eachIndexSum);
  EXPECT_EQ(parallel.eachDictSum, sequential.eachDictSum);

  // The answers themselves are the expected ones, not merely equal to each other.
  EXPECT_TRUE(sequential.all);
  EXPECT_FALSE(sequential.allFalse);
  EXPECT_TRUE(sequential.any);
  EXPECT_FALSE(sequential.anyFalse);
  EXPECT_TRUE(sequential.allDict);
  EXPECT_TRUE(sequential.anyDict);
  EXPECT_EQ(sequential.filtered.size() + sequential.rejected.size(), list.size());
  EXPECT_EQ(sequential.range.size(), 3500u);
}

TEST_F(FTest, ParallelFilterNeverDropsAChosenElementThatLooksLikeAPlaceholder) {
  // Unchosen slots must not be told apart by their value: a chosen null pointer stays.
  const std::vector<const char*> list{nullptr, "a", nullptr, "b"};
  F::useConcurrency();
  EXPECT_EQ(F::filterArray(list, [](const char* s) { return s == nullptr; }),
            (std::vector<const char*>{nullptr, nullptr}));
  EXPECT_EQ(F::rejectArray(list, [](const char* s) { return s != nullptr; }),
            (std::vector<const char*>{nullptr, nullptr}));
}

TEST_F(FTest, ParallelModeWithAnOwnQueueUsesThatQueue) {
  auto queue = std::make_shared<DispatchQueue>(2);
  std::atomic<int> onOwnWorkers{0};
  std::vector<int> result;
  F::concurrently(
      [&] {
        result = F::mapArray(numbers(200), [&](int x) {
          if (queue->isCurrentWorker()) ++onOwnWorkers;
          std::this_thread::sleep_for(50us);
          return x;
        });
      },
      queue);
  EXPECT_EQ(result, numbers(200));
  EXPECT_GT(onOwnWorkers.load(), 0);
  EXPECT_FALSE(F::usesConcurrency());
  EXPECT_EQ(F::queue(), queue);  // the queue setting remains the given queue
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

TEST_F(FTest, ParallelModeRethrowsABlocksException) {
  F::useConcurrency();
  EXPECT_THROW(F::mapArray(numbers(100),
                           [](int x) {
                             if (x == numbers(100)[42]) throw std::runtime_error("boom");
                             return x;
                           }),
               std::runtime_error);
}

// ---------------------------------------------------------------------------------------------
// Mode switching

TEST_F(FTest, UseConcurrencyWritesItsWarningLineEachTime) {
  testing::LogCapture capture;
  F::useConcurrency();
  F::useConcurrency();
  EXPECT_EQ(capture.count(kConcurrencyLine), 2u);
  EXPECT_TRUE(capture.has(spdlog::level::warn, kConcurrencyLine));
  F::concurrently([] {});
  EXPECT_EQ(capture.count(kConcurrencyLine), 3u);
}

TEST_F(FTest, ModeSwitchesSetTheirOwnSettingOnly) {
  EXPECT_FALSE(F::usesConcurrency());
  EXPECT_EQ(F::queue(), nullptr);
  EXPECT_EQ(F::parallelQueue(), nullptr);

  F::useConcurrency();
  EXPECT_TRUE(F::usesConcurrency());
  EXPECT_EQ(F::queue(), DispatchQueue::global());
  EXPECT_EQ(F::parallelQueue(), DispatchQueue::global());

  F::dontUseConcurrency();
  EXPECT_FALSE(F::usesConcurrency());
  EXPECT_EQ(F::queue(), DispatchQueue::global());  // the queue setting stays
  EXPECT_EQ(F::parallelQueue(), nullptr);

  auto own = std::make_shared<DispatchQueue>(2);
  F::useQueue(own);
  EXPECT_FALSE(F::usesConcurrency());  // the mode stays
  EXPECT_EQ(F::queue(), own);
  F::useQueue(nullptr);
}

TEST_F(FTest, ParallelModeWithoutAQueueRunsSequentially) {
  F::useConcurrency();
  F::useQueue(nullptr);
  EXPECT_TRUE(F::usesConcurrency());
  EXPECT_EQ(F::parallelQueue(), nullptr);
  std::vector<int> order;
  F::eachInArray(std::vector<int>{1, 2, 3}, [&](int x) { order.push_back(x); });
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(FTest, ConcurrentlyTurnsParallelModeOnForTheBlockOnly) {
  bool inside = false;
  F::concurrently([&] { inside = F::usesConcurrency(); });
  EXPECT_TRUE(inside);
  EXPECT_FALSE(F::usesConcurrency());
  EXPECT_THROW(F::concurrently([] { throw std::runtime_error("block"); }), std::runtime_error);
  EXPECT_FALSE(F::usesConcurrency());
}

// ---------------------------------------------------------------------------------------------
// Execution helpers

TEST_F(FTest, AsynchronouslyRunsOnTheGlobalQueue) {
  std::promise<bool> ran;
  F::asynchronously([&] { ran.set_value(DispatchQueue::global()->isCurrentWorker()); });
  auto result = ran.get_future();
  ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(result.get());
}

TEST_F(FTest, OnUIThreadOnTheMainThreadRunsAtOnce) {
  ASSERT_TRUE(MainThread::isMainThread());
  int posted = 0;
  MainThread::setExecutor([&](MainThread::Task task) {
    ++posted;
    task();
  });
  bool ran = false;
  F::onUIThread([&] { ran = true; });
  MainThread::setExecutor(nullptr);
  EXPECT_TRUE(ran);
  EXPECT_EQ(posted, 0);
}

TEST_F(FTest, OnUIThreadFromAnotherThreadRunsOnTheMainThreadAndWaits) {
  ASSERT_TRUE(MainThread::isMainThread());
  std::mutex mutex;
  std::deque<MainThread::Task> mainQueue;
  MainThread::setExecutor([&](MainThread::Task task) {
    std::lock_guard<std::mutex> lock(mutex);
    mainQueue.push_back(std::move(task));
  });

  std::atomic<bool> finished{false};
  std::thread::id ranOn;
  bool ranBeforeReturn = false;
  std::thread other([&] {
    bool ran = false;
    F::onUIThread([&] {
      ranOn = std::this_thread::get_id();
      ran = true;
    });
    ranBeforeReturn = ran;
    finished = true;
  });
  // A minimal main loop: run what is posted until the other thread is done.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!finished && std::chrono::steady_clock::now() < deadline) {
    MainThread::Task task;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!mainQueue.empty()) {
        task = std::move(mainQueue.front());
        mainQueue.pop_front();
      }
    }
    if (task) {
      task();
    } else {
      std::this_thread::sleep_for(1ms);
    }
  }
  other.join();
  MainThread::setExecutor(nullptr);
  EXPECT_TRUE(ranBeforeReturn);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

}  // namespace
}  // namespace zelto
