// UvTcpListener: a TcpListener on a UvRunLoop. The socket is its own (polled, not libuv's
// listening stream), so that when descriptors run out connections stay queued in the kernel
// instead of being accepted and closed.
//
// Owns its socket and libuv handles, released by libuv once closed. The loop's thread only;
// destroy before the loop.
#pragma once

#include <memory>
#include <string>

#include "Platform/Linux/UvRunLoop.h"
#include "Platform/Status.h"
#include "Platform/TcpListener.h"

namespace zelto {

class UvTcpListener final : public TcpListener {
 public:
  static Result<std::unique_ptr<TcpListener>> listen(UvRunLoop& loop, const std::string& ip,
                                                     int port, AcceptCallback onAccept);
  ~UvTcpListener() override;
  UvTcpListener(const UvTcpListener&) = delete;
  UvTcpListener& operator=(const UvTcpListener&) = delete;

  int port() const override { return port_; }
  void onExhausted(ExhaustedCallback callback) override;
  void pause() override;
  void resume() override;
  bool isPaused() const override;

 private:
  struct State;
  explicit UvTcpListener(State* state) : state_(state) {}

  State* state_;  // released by libuv's close callback
  int port_ = 0;
};

}  // namespace zelto
