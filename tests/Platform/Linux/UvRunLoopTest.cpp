#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <thread>
#include <vector>

#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Platform/Linux/UvTcpListener.h"
#include "Support/RunLoopUntil.h"

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

FileDescriptor connectTo(int port) {
  FileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  EXPECT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  return fd;
}

// Connections wait in the queue while the listener is paused and while descriptors run out;
// none is accepted only to be dropped, and the listener takes them once it can.
TEST(UvTcpListenerTest, LeavesConnectionsQueuedWhilePausedOrOutOfDescriptors) {
  UvRunLoop loop;
  std::vector<std::unique_ptr<TcpStream>> accepted;
  auto listener = UvTcpListener::listen(
      loop, "127.0.0.1", 0, [&](auto stream) { accepted.push_back(std::move(stream)); });
  ASSERT_TRUE(listener.ok());
  int exhausted = 0;
  (*listener)->onExhausted([&](const Status& reason) {
    ++exhausted;
    EXPECT_NE(reason.message().find("cannot accept"), std::string::npos);
  });

  (*listener)->pause();
  FileDescriptor first = connectTo((*listener)->port());
  auto settle = loop.addTimer(0.2, 0, [&] { loop.stop(); });
  loop.run();
  EXPECT_TRUE(accepted.empty());
  (*listener)->resume();
  ASSERT_TRUE(testing::runLoopUntil(loop, [&] { return accepted.size() == 1; }));

  FileDescriptor second = connectTo((*listener)->port());
  FileDescriptor third = connectTo((*listener)->port());
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit lowered = saved;
  // Below the lowest free number: no descriptor can be opened at all.
  lowered.rlim_cur = static_cast<rlim_t>(FileDescriptor(::dup(0)).get());
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
  const bool sawExhaustion = testing::runLoopUntil(loop, [&] { return exhausted > 0; });
  const size_t acceptedMeanwhile = accepted.size();
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  EXPECT_TRUE(sawExhaustion);
  EXPECT_EQ(acceptedMeanwhile, 1u);
  EXPECT_TRUE((*listener)->isPaused());
  // A second later it tries again by itself.
  EXPECT_TRUE(testing::runLoopUntil(loop, [&] { return accepted.size() == 3; }));
  EXPECT_EQ(exhausted, 1);
}

}  // namespace
}  // namespace zelto
