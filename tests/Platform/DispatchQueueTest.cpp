#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Platform/DispatchQueue.h"

namespace zelto {
namespace {

using namespace std::chrono_literals;

TEST(DispatchQueueTest, AsyncRunsTheTaskOnAWorker) {
  auto queue = std::make_shared<DispatchQueue>();
  std::promise<bool> ranOnWorker;
  queue->async([&] { ranOnWorker.set_value(queue->isCurrentWorker()); });
  auto result = ranOnWorker.get_future();
  ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(result.get());
  EXPECT_FALSE(queue->isCurrentWorker());
}

TEST(DispatchQueueTest, ApplyWithZeroStepsReturnsWithoutCalling) {
  DispatchQueue queue;
  bool called = false;
  queue.apply(0, [&](size_t) { called = true; });
  EXPECT_FALSE(called);
}

TEST(DispatchQueueTest, ApplyRunsEveryStepOnceAndReturnsOnlyAfterAllFinished) {
  DispatchQueue queue;
  constexpr size_t count = 200;
  std::vector<std::atomic<int>> hits(count);
  std::atomic<size_t> finished{0};
  queue.apply(count, [&](size_t i) {
    if (i % 10 == 0) std::this_thread::sleep_for(1ms);
    hits[i].fetch_add(1);
    finished.fetch_add(1);
  });
  EXPECT_EQ(finished.load(), count);
  for (size_t i = 0; i < count; ++i) EXPECT_EQ(hits[i].load(), 1) << "step " << i;
}

TEST(DispatchQueueTest, ApplyFromInsideAWorkerDoesNotDeadlock) {
  auto queue = std::make_shared<DispatchQueue>(2);
  std::promise<size_t> done;
  queue->async([&] {
    std::atomic<size_t> steps{0};
    queue->apply(100, [&](size_t) { steps.fetch_add(1); });
    done.set_value(steps.load());
  });
  auto result = done.get_future();
  ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(result.get(), 100u);
}

TEST(DispatchQueueTest, NestedApplyWithEveryWorkerBusyFinishes) {
  DispatchQueue queue(2);
  std::atomic<size_t> inner{0};
  auto run = std::async(std::launch::async, [&] {
    queue.apply(8, [&](size_t) { queue.apply(50, [&](size_t) { inner.fetch_add(1); }); });
  });
  ASSERT_EQ(run.wait_for(10s), std::future_status::ready);
  run.get();
  EXPECT_EQ(inner.load(), 8u * 50u);
}

TEST(DispatchQueueTest, ApplyRethrowsAStepsExceptionAfterTheOthersFinished) {
  DispatchQueue queue;
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
  EXPECT_EQ(running.load(), 0);
  // The queue is still usable afterwards.
  std::atomic<int> steps{0};
  queue.apply(10, [&](size_t) { steps.fetch_add(1); });
  EXPECT_EQ(steps.load(), 10);
}

TEST(DispatchQueueTest, AThrowingTaskDoesNotStopItsWorker) {
  DispatchQueue queue(2);
  for (int i = 0; i < 4; ++i) queue.async([] { throw std::runtime_error("task"); });
  std::promise<void> done;
  queue.async([&] { done.set_value(); });
  EXPECT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
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
}

TEST(DispatchQueueTest, QueueReleasedByItsOwnTaskIsDestroyedOnThatWorkerSafely) {
  std::promise<void> outerReleased;
  std::shared_future<void> outerGone = outerReleased.get_future().share();
  std::promise<bool> destroyed;
  {
    auto queue = std::make_shared<DispatchQueue>(2);
    std::weak_ptr<DispatchQueue> weak = queue;
    queue->async([queue, weak, outerGone, &destroyed]() mutable {
      outerGone.wait();
      queue.reset();  // the last reference: the queue is destroyed here, on its own worker
      destroyed.set_value(weak.expired());
    });
  }
  outerReleased.set_value();
  auto result = destroyed.get_future();
  ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(result.get());
  std::this_thread::sleep_for(20ms);  // the detached worker winds down; nothing may crash
}

}  // namespace
}  // namespace zelto
