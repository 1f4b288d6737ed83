// TcpListener: a listening TCP socket on a UvRunLoop that hands each accepted connection to its
// owner as a TcpStream.
//
// Owns its libuv handle; destroying the listener stops accepting (connections already accepted
// belong to whoever received them). The loop's thread only; destroy before the loop.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Platform/Linux/SocketAddress.h"
#include "Platform/Linux/TcpStream.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Platform/Status.h"

namespace zelto {

class TcpListener {
 public:
  using AcceptCallback = std::function<void(std::unique_ptr<TcpStream>)>;

  // Listens at numeric address `ip` and `port` (0: any free port; port() says which). An IPv6
  // listener takes IPv6 connections only, so 127.0.0.1 and ::1 can share a port.
  static Result<std::unique_ptr<TcpListener>> listen(UvRunLoop& loop, const std::string& ip,
                                                     int port, AcceptCallback onAccept);
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  int port() const { return port_; }

 private:
  struct State;
  explicit TcpListener(State* state) : state_(state) {}

  State* state_;  // released by libuv's close callback
  int port_ = 0;
};

}  // namespace zelto
