// UvTcpStream: a TcpStream on a UvRunLoop (libuv's TCP handle), and the asynchronous steps that
// open one: resolving a name on libuv's thread pool, connecting to the first address that
// answers. UvNetwork hands these out; UvTcpListener accepts them.
//
// A stream owns its libuv handle. Destroying it (or `close`) closes the connection at once;
// libuv releases the handle later, on the loop. Destroying the handle `resolve` or `connect`
// returns cancels the step and its callback never runs.
//
// The loop's thread only; destroy every stream and pending step before the loop.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Linux/UvRunLoop.h"
#include "Platform/Network.h"
#include "Platform/Registration.h"
#include "Platform/SocketAddress.h"
#include "Platform/Status.h"
#include "Platform/TcpStream.h"

namespace zelto {

class UvTcpStream final : public TcpStream {
 public:
  using ResolveCallback = std::function<void(Result<std::vector<SocketAddress>>)>;

  ~UvTcpStream() override;
  UvTcpStream(const UvTcpStream&) = delete;
  UvTcpStream& operator=(const UvTcpStream&) = delete;

  // The addresses `host` (a name or a numeric address) has for TCP at `port`, IPv4 and IPv6,
  // looked up by the system's resolver on libuv's thread pool.
  static std::unique_ptr<Registration> resolve(UvRunLoop& loop, const std::string& host, int port,
                                               ResolveCallback callback);
  // Connects to each of `addresses` in turn until one accepts; fails with the last reason.
  static std::unique_ptr<Registration> connect(UvRunLoop& loop,
                                               std::vector<SocketAddress> addresses,
                                               Network::ConnectCallback callback);

  void startReading(DataCallback onData, EndCallback onEnd) override;
  void resumeReading() override;
  void pauseReading() override;
  Status write(std::string bytes, WriteCallback done = {}) override;
  using TcpStream::writeNow;
  Result<size_t> writeNow(std::span<const std::string_view> pieces,
                          WriteCallback done = {}) override;
  size_t queuedBytes() const override;
  void shutdown() override;
  void close() override;
  bool isOpen() const override;
  std::optional<SocketAddress> peerAddress() const override;
  std::optional<SocketAddress> localAddress() const override;

  // The state behind a stream (UvTcpStreamImpl.h), for the socket layer's own use.
  struct Impl;
  explicit UvTcpStream(Impl* impl);

 private:
  Impl* impl_;  // released by libuv's close callback
};

}  // namespace zelto
