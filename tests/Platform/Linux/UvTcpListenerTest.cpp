#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <vector>

#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Linux/UvTcpListener.h"
#include "Support/RunLoopUntil.h"

namespace zelto {
namespace {

using testing::runLoopUntil;

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
  ASSERT_TRUE(runLoopUntil(loop, [&] { return accepted.size() == 1; }));

  FileDescriptor second = connectTo((*listener)->port());
  FileDescriptor third = connectTo((*listener)->port());
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit lowered = saved;
  // Below the lowest free number: no descriptor can be opened at all.
  lowered.rlim_cur = static_cast<rlim_t>(FileDescriptor(::dup(0)).get());
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
  const bool sawExhaustion = runLoopUntil(loop, [&] { return exhausted > 0; });
  const size_t acceptedMeanwhile = accepted.size();
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  EXPECT_TRUE(sawExhaustion);
  EXPECT_EQ(acceptedMeanwhile, 1u);
  EXPECT_TRUE((*listener)->isPaused());
  // A second later it tries again by itself.
  EXPECT_TRUE(runLoopUntil(loop, [&] { return accepted.size() == 3; }));
  EXPECT_EQ(exhausted, 1);
}

}  // namespace
}  // namespace zelto
