#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "Platform/DispatchQueue.h"

namespace zelto {
namespace {

using namespace std::chrono_literals;

TEST(SerialDispatchQueueTest, SuspendedQueueRunsNothingUntilResumedThenEverythingInOrder) {
  DispatchQueue queue("BACKGROUND", /*startSuspended=*/true);
  std::mutex mutex;
  std::vector<int> order;
  std::atomic<bool> ranEarly{false};
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
    ranEarly = !order.empty();
  }
  EXPECT_FALSE(ranEarly);

  std::promise<void> done;
  queue.async([&] { done.set_value(); });
  queue.resume();
  ASSERT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
  std::vector<int> expected;
  for (int i = 0; i < 100; ++i) expected.push_back(i);
  EXPECT_EQ(order, expected);
}

TEST(SerialDispatchQueueTest, KnowsItsOwnWorkerAndSurvivesThrowingTasks) {
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

TEST(SerialDispatchQueueTest, DestructionDrainsEvenASuspendedQueueAndWorkQueuedByItsTasks) {
  std::atomic<int> ran{0};
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

}  // namespace
}  // namespace zelto
