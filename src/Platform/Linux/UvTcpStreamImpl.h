// UvTcpStream::Impl: the state behind a UvTcpStream, shared with UvTcpListener only. It
// outlives its stream until libuv has closed the handle; `closed` keeps callbacks from running
// once the owner has let go.
//
// The loop's thread only.
#pragma once

#include <uv.h>

#include <memory>

#include "Platform/Linux/UvTcpStream.h"

namespace zelto {

struct UvTcpStream::Impl {
  uv_tcp_t handle{};
  DataCallback onData;
  EndCallback onEnd;
  size_t queued = 0;
  bool closed = false;
  bool reading = false;
  bool ended = false;
  bool shutDown = false;

  static Impl* create(uv_loop_t* loop);
  // Closes the handle; the state is released once libuv is done with it.
  void close();
  // Connects the next address of a connect step (a ConnectStep, kept opaque here).
  static void tryNext(const std::shared_ptr<void>& step);
};

using TcpStreamImpl = UvTcpStream::Impl;

}  // namespace zelto
