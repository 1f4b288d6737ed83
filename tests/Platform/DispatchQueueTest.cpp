#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Platform/DispatchQueue.h"

namespace zelto {
namespace {

using namespace std::chrono_literals;

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
  std::promise<void> done;
  queue.async([&] { done.set_value(); });
  EXPECT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
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
  std::promise<void> probed;
  probe.async([&] { probed.set_value(); });
  ASSERT_EQ(probed.get_future().wait_for(10s), std::future_status::ready);
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
  std::promise<bool> inside;
  queue.async([] { throw std::runtime_error("task"); });
  queue.async([&] { inside.set_value(queue.isCurrent()); });
  auto answer = inside.get_future();
  ASSERT_EQ(answer.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(answer.get());
  DispatchQueue other("other");
  std::promise<bool> onOther;
  other.async([&] { onOther.set_value(queue.isCurrent()); });
  EXPECT_FALSE(onOther.get_future().get());
  // The blocking calls' worker, likewise.
  std::promise<bool> onBlocking;
  DispatchQueue::blocking().async(
      [&] { onBlocking.set_value(DispatchQueue::blocking().isCurrent() && !queue.isCurrent()); });
  EXPECT_TRUE(onBlocking.get_future().get());
}

}  // namespace
}  // namespace zelto
