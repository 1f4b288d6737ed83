// TcpListener: a listening TCP socket on a UvRunLoop that hands each accepted connection to its
// owner as a TcpStream.
//
// Accepting can be paused: connections then wait in the kernel's queue (they are neither
// accepted nor refused) until `resume`. A server pauses when it is at its connection cap, and
// the listener pauses itself when the process is out of descriptors, telling its owner once
// through the exhausted callback, and tries again a second later or at the owner's `resume`; a
// connection accepted is never one that must then be dropped for want of a descriptor.
//
// Owns its socket and libuv handle; destroying the listener stops accepting (connections already
// accepted belong to whoever received them). The loop's thread only; destroy before the loop.
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
  // Accepting failed for want of descriptors (the reason); the listener has paused itself.
  using ExhaustedCallback = std::function<void(const Status&)>;

  // Listens at numeric address `ip` and `port` (0: any free port; port() says which). An IPv6
  // listener takes IPv6 connections only, so 127.0.0.1 and ::1 can share a port.
  static Result<std::unique_ptr<TcpListener>> listen(UvRunLoop& loop, const std::string& ip,
                                                     int port, AcceptCallback onAccept);
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  int port() const { return port_; }

  void onExhausted(ExhaustedCallback callback);
  // Stops taking connections off the queue; `resume` takes them again. Both may be called
  // from the accept callback.
  void pause();
  void resume();
  bool isPaused() const;

 private:
  struct State;
  explicit TcpListener(State* state) : state_(state) {}

  State* state_;  // released by libuv's close callback
  int port_ = 0;
};

}  // namespace zelto
