#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <thread>
#include <vector>

#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Linux/UvRunLoop.h"

namespace zelto {
namespace {

class UvRunLoopTest : public ::testing::Test {
 protected:
  // Runs the loop until something stops it, or for at most five seconds (then the test fails).
  void runBounded() {
    bool timedOut = false;
    auto watchdog = loop.addTimer(5.0, 0, [&] {
      timedOut = true;
      loop.stop();
    });
    loop.run();
    EXPECT_FALSE(timedOut) << "the loop was not stopped within five seconds";
  }

  UvRunLoop loop;
};

TEST_F(UvRunLoopTest, PostFromAnotherThreadRunsOnTheLoopThreadInOrder) {
  std::vector<int> order;
  bool onLoopThread = false;
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i) loop.post([&, i] { order.push_back(i); });
    loop.post([&] {
      onLoopThread = loop.isLoopThread();
      loop.stop();
    });
  });
  runBounded();
  poster.join();
  EXPECT_TRUE(onLoopThread);
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
}

TEST_F(UvRunLoopTest, AStopRequestedBeforeRunIsNotLost) {
  bool ran = false;
  loop.post([&] { ran = true; });
  loop.stop();
  runBounded();
  EXPECT_FALSE(ran);  // run returned before taking any work
}

TEST_F(UvRunLoopTest, TimersCancelledFromACallbackNeverFireAgain) {
  std::vector<std::string> fired;
  // Two timers due together: the first one's callback cancels the second before it runs.
  std::unique_ptr<Registration> second;
  auto first = loop.addTimer(0.002, 0, [&] {
    fired.push_back("first");
    second.reset();
  });
  second = loop.addTimer(0.002, 0, [&] { fired.push_back("second"); });
  // A repeating timer that cancels itself from its third callback, then stops the loop later.
  int repeats = 0;
  std::unique_ptr<Registration> repeating, stopper;
  repeating = loop.addTimer(0.005, 0.001, [&] {
    if (++repeats == 3) {
      repeating->cancel();
      stopper = loop.addTimer(0.03, 0, [&] { loop.stop(); });
    }
  });
  runBounded();
  EXPECT_EQ(fired, (std::vector<std::string>{"first"}));
  EXPECT_EQ(repeats, 3);
}

TEST_F(UvRunLoopTest, SignalCallbackRunsOnTheLoop) {
  int received = 0;
  bool onLoopThread = false;
  loop.onSignal(SIGUSR1, [&] {
    ++received;
    onLoopThread = loop.isLoopThread();
    loop.stop();
  });
  std::thread([] { std::raise(SIGUSR1); }).join();
  runBounded();
  EXPECT_EQ(received, 1);
  EXPECT_TRUE(onLoopThread);
}

TEST_F(UvRunLoopTest, AWatchedDescriptorCallsBackWhenReadableAndABadOneIsRefused) {
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
  FileDescriptor reader(ends[0]), writer(ends[1]);
  auto watch = loop.watchReadable(reader.get(), [&] { loop.stop(); });
  ASSERT_TRUE(watch.ok()) << watch.status().message();
  ASSERT_EQ(::write(writer.get(), "x", 1), 1);
  runBounded();

  auto unopened = loop.watchReadable(-1, [] {});
  ASSERT_FALSE(unopened.ok());
  EXPECT_NE(unopened.status().message().find("descriptor -1"), std::string::npos);
  const int closedNumber = writer.get();
  writer.reset();
  auto closed = loop.watchReadable(closedNumber, [] {});
  ASSERT_FALSE(closed.ok());
  EXPECT_NE(closed.status().message().find("bad file descriptor"), std::string::npos)
      << closed.status().message();
}

}  // namespace
}  // namespace zelto
