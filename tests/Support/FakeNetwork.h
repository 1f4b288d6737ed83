// FakeNetwork: a Network for tests, in memory, on the test's (simulated) run loop.
//
// Listeners take any address and port; a connect reaches the listener at its address (else it
// is refused), as two FakeStreams joined back to back. Nothing happens inside a call: bytes,
// ends, accepts and connects are posted and arrive when the test turns the loop. Each direction
// holds `kWindow` bytes the reader hasn't read, like a socket's buffers; past that, writes are
// queued (queuedBytes) and their completions wait until the reader reads. A shutdown reaches
// the reader after the bytes before it; a closed stream's peer reads what was sent before, then
// sees the end, and its own writes fail from then on.
//
// The test can make addresses swallow connects (a host that never answers) and make the
// program under test run out of descriptors: its listeners then leave connections queued,
// telling their owner, and try again a second later or at a resume; its connects fail. What
// other programs do (`outside()`: the test's clients and origins) never runs out.
//
// The loop's thread (the test's) only. The network outlives what it hands out.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Platform/Network.h"
#include "Platform/RunLoop.h"

namespace zelto::testing {

class FakeNetwork final : public Network {
 public:
  static constexpr size_t kWindow = 64 * 1024;

  explicit FakeNetwork(RunLoop& loop) : loop_(loop) {}

  Result<std::unique_ptr<TcpListener>> listen(const std::string& ip, int port,
                                              TcpListener::AcceptCallback onAccept) override {
    return listen(ip, port, std::move(onAccept), /*outside=*/false);
  }
  std::unique_ptr<Registration> connect(std::vector<SocketAddress> addresses,
                                        ConnectCallback callback) override {
    return connect(std::move(addresses), std::move(callback), /*outside=*/false);
  }
  // The same network as another program on the machine uses it.
  Network& outside() { return outside_; }

  // Connects to `ip` neither succeed nor fail until cancelled.
  void swallowConnects(const std::string& ip) { swallowed_.insert(ip); }
  void setOutOfDescriptors(bool out) { outOfDescriptors_ = out; }

 private:
  class Stream;
  class Listener;
  struct Link;
  class Outside final : public Network {
   public:
    explicit Outside(FakeNetwork& network) : network_(network) {}
    Result<std::unique_ptr<TcpListener>> listen(const std::string& ip, int port,
                                                TcpListener::AcceptCallback onAccept) override {
      return network_.listen(ip, port, std::move(onAccept), /*outside=*/true);
    }
    std::unique_ptr<Registration> connect(std::vector<SocketAddress> addresses,
                                          ConnectCallback callback) override {
      return network_.connect(std::move(addresses), std::move(callback), /*outside=*/true);
    }

   private:
    FakeNetwork& network_;
  };

  Result<std::unique_ptr<TcpListener>> listen(const std::string& ip, int port,
                                              TcpListener::AcceptCallback onAccept, bool outside);
  std::unique_ptr<Registration> connect(std::vector<SocketAddress> addresses,
                                        ConnectCallback callback, bool outside);

  RunLoop& loop_;
  Outside outside_{*this};
  std::map<std::string, Listener*> listeners_;  // by "ip port"
  std::set<std::string> swallowed_;
  int nextPort_ = 40000;
  bool outOfDescriptors_ = false;
};

}  // namespace zelto::testing
