// Network: the TCP side of the operating system as the servers use it: listening and
// connecting. Names are looked up by a HostResolver, not here.
//
// UvNetwork is the program's (libuv sockets on the UvRunLoop); FakeNetwork in tests connects
// in-memory streams on a simulated loop, so timeouts, half-closes and running out of
// descriptors can be tried without waiting.
//
// Ownership: listeners, streams and pending connects belong to the caller; destroying a pending
// connect's handle cancels it (its callback never runs). Threads: the loop's thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Registration.h"
#include "Platform/SocketAddress.h"
#include "Platform/Status.h"
#include "Platform/TcpListener.h"
#include "Platform/TcpStream.h"

namespace zelto {

class Network {
 public:
  using ConnectCallback = std::function<void(Result<std::unique_ptr<TcpStream>>)>;

  virtual ~Network() = default;

  // Listens at numeric address `ip` and `port` (0: any free port; the listener's port() says
  // which). An IPv6 listener takes IPv6 connections only, so 127.0.0.1 and ::1 can share a port.
  virtual Result<std::unique_ptr<TcpListener>> listen(const std::string& ip, int port,
                                                      TcpListener::AcceptCallback onAccept) = 0;
  // Connects to each of `addresses` in turn until one accepts; fails with the last reason. The
  // callback never runs inside `connect` itself.
  virtual std::unique_ptr<Registration> connect(std::vector<SocketAddress> addresses,
                                                ConnectCallback callback) = 0;
};

}  // namespace zelto
