#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Platform/DispatchQueue.h"

namespace zelto {
namespace {

using namespace std::chrono_literals;

// Runs `f` on `queue` and returns what it returned; false when that took over ten seconds.
bool runOn(DispatchQueue& queue, const std::function<bool()>& f) {
  std::promise<bool> result;
  queue.async([&] { result.set_value(f()); });
  auto future = result.get_future();
  return future.wait_for(10s) == std::future_status::ready && future.get();
}

TEST(DispatchQueueTest, ApplyRunsEveryStepOnceAndReturnsOnlyAfterAllFinished) {
  DispatchQueue queue;
  queue.apply(0, [](size_t) { FAIL() << "no step to run"; });
  constexpr size_t count = 200;
  std::vector<std::atomic<int>> hits(count);
  queue.apply(count, [&](size_t i) {
    if (i % 10 == 0) std::this_thread::sleep_for(1ms);
    hits[i].fetch_add(1);
  });
  for (size_t i = 0; i < count; ++i) EXPECT_EQ(hits[i].load(), 1) << "step " << i;
}

TEST(DispatchQueueTest, NestedApplyWithEveryWorkerBusyFinishes) {
  DispatchQueue queue(2);
  std::atomic<size_t> inner{0};
  auto run = std::async(std::launch::async, [&] {
    queue.apply(8, [&](size_t) { queue.apply(50, [&](size_t) { inner.fetch_add(1); }); });
  });
  ASSERT_EQ(run.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(inner.load(), 8u * 50u);
}

TEST(DispatchQueueTest, FailuresReachTheCallerOrAreContained) {
  // The workers log the failures. A program has its logging set up before it starts threads;
  // so does this test, or the two workers' first lines would build spdlog's registry together
  // (thread-safe, but inside the uninstrumented library, where ThreadSanitizer can't see it).
  spdlog::default_logger();
  DispatchQueue queue(2);
  std::atomic<int> running{0};
  EXPECT_THROW(queue.apply(100,
                           [&](size_t i) {
                             running.fetch_add(1);
                             if (i == 3) {
                               running.fetch_sub(1);
                               throw std::runtime_error("step 3");
                             }
                             std::this_thread::sleep_for(100us);
                             running.fetch_sub(1);
                           }),
               std::runtime_error);
  EXPECT_EQ(running.load(), 0);  // rethrown only once the running steps finished

  // A throwing task stops neither its worker nor the queue.
  for (int i = 0; i < 4; ++i) queue.async([] { throw std::runtime_error("task"); });
  EXPECT_TRUE(runOn(queue, [] { return true; }));
  std::atomic<int> steps{0};
  queue.apply(10, [&](size_t) { steps.fetch_add(1); });
  EXPECT_EQ(steps.load(), 10);
}

TEST(DispatchQueueTest, DestructionRunsTheQueuedTasksFirst) {
  std::atomic<int> ran{0};
  {
    DispatchQueue queue(2);
    for (int i = 0; i < 50; ++i) {
      queue.async([&] {
        std::this_thread::sleep_for(100us);
        ran.fetch_add(1);
      });
    }
  }
  EXPECT_EQ(ran.load(), 50);
  // A serial queue too, even a suspended one, with the work its tasks queue meanwhile.
  ran = 0;
  {
    DispatchQueue queue("BACKGROUND", /*startSuspended=*/true);
    for (int i = 0; i < 20; ++i) {
      queue.async([&] {
        ran.fetch_add(1);
        queue.async([&] { ran.fetch_add(1); });
      });
    }
  }
  EXPECT_EQ(ran.load(), 40);
}

TEST(DispatchQueueTest, SerialSuspendedQueueRunsNothingUntilResumedThenEverythingInOrder) {
  DispatchQueue queue("BACKGROUND", /*startSuspended=*/true);
  std::mutex mutex;
  std::vector<int> order;
  for (int i = 0; i < 100; ++i) {
    queue.async([&, i] {
      std::lock_guard<std::mutex> lock(mutex);
      order.push_back(i);
    });
  }
  // A queue that runs while suspended would have started on these by the time the probe below
  // has been answered by a second, running queue.
  DispatchQueue probe("probe");
  ASSERT_TRUE(runOn(probe, [] { return true; }));
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_TRUE(order.empty()) << "ran while suspended";
  }

  std::promise<void> done;
  queue.async([&] { done.set_value(); });
  queue.resume();
  ASSERT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
  std::vector<int> expected;
  for (int i = 0; i < 100; ++i) expected.push_back(i);
  EXPECT_EQ(order, expected);
}

TEST(DispatchQueueTest, SerialKnowsItsOwnWorkerAndSurvivesThrowingTasks) {
  DispatchQueue queue("BACKGROUND");
  EXPECT_FALSE(queue.isCurrent());
  queue.async([] { throw std::runtime_error("task"); });
  EXPECT_TRUE(runOn(queue, [&] { return queue.isCurrent(); }));
  DispatchQueue other("other");
  EXPECT_TRUE(runOn(other, [&] { return !queue.isCurrent(); }));
  // The blocking calls' worker, likewise.
  EXPECT_TRUE(runOn(DispatchQueue::blocking(),
                    [&] { return DispatchQueue::blocking().isCurrent() && !queue.isCurrent(); }));
}

}  // namespace
}  // namespace zelto
