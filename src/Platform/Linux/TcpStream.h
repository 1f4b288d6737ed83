// TcpStream: one TCP connection on a UvRunLoop: reading in chunks, queued writes with their
// completion, half-close and close; and the asynchronous steps that open one (resolving a host
// name, connecting to the first address that answers).
//
// A stream owns its libuv handle. Destroying it (or `close`) closes the connection at once:
// queued writes are dropped and no callback of the stream runs afterwards, so an owner may
// destroy its stream from inside one of the stream's own callbacks. libuv releases the handle
// later, on the loop. The same holds for the handles `resolve` and `connect` return: destroying
// one cancels the step and its callback never runs.
//
// The loop's thread only; destroy every stream and pending step before the loop.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Linux/SocketAddress.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Platform/Registration.h"
#include "Platform/Status.h"

namespace zelto {

class TcpStream {
 public:
  // Bytes as they arrive; the view is valid during the call only.
  using DataCallback = std::function<void(std::string_view bytes)>;
  // The peer finished sending (success) or the connection failed (the reason).
  using EndCallback = std::function<void(Status)>;
  using WriteCallback = std::function<void(Status)>;
  using ConnectCallback = std::function<void(Result<std::unique_ptr<TcpStream>>)>;
  using ResolveCallback = std::function<void(Result<std::vector<SocketAddress>>)>;

  ~TcpStream();
  TcpStream(const TcpStream&) = delete;
  TcpStream& operator=(const TcpStream&) = delete;

  // The addresses `host` (a name or a numeric address) has for TCP at `port`, IPv4 and IPv6.
  static std::unique_ptr<Registration> resolve(UvRunLoop& loop, const std::string& host, int port,
                                               ResolveCallback callback);
  // Connects to each of `addresses` in turn until one accepts; fails with the last reason.
  static std::unique_ptr<Registration> connect(UvRunLoop& loop,
                                               std::vector<SocketAddress> addresses,
                                               ConnectCallback callback);

  // Starts (or resumes) reading; the callbacks are kept for later resumes. After an end nothing
  // more is read.
  void startReading(DataCallback onData, EndCallback onEnd);
  void resumeReading();
  void pauseReading();

  // Queues `bytes`; `done` (optional) runs once they are written or the write failed.
  void write(std::string bytes, WriteCallback done = {});
  // Writes what the socket takes now without copying, and queues only the rest (a copy), as
  // write() does; `done` runs once that rest is written or failed, and never when nothing had
  // to wait. Answers how many bytes were queued.
  size_t writeNow(std::string_view bytes, WriteCallback done = {});
  // The same for several pieces, in order, in one system call where the socket takes them.
  size_t writeNow(std::span<const std::string_view> pieces, WriteCallback done = {});
  // Bytes queued and not yet handed to the system.
  size_t queuedBytes() const;
  // Ends this side's sending once the queued bytes are written; the peer sees the end.
  void shutdown();
  // Closes the connection now (the destructor does the same).
  void close();
  bool isOpen() const;

  std::optional<SocketAddress> peerAddress() const;
  std::optional<SocketAddress> localAddress() const;

  // The state behind a stream (TcpStreamImpl.h), for the socket layer's own use.
  struct Impl;

 private:
  friend class TcpListener;
  explicit TcpStream(Impl* impl);

  Impl* impl_;  // released by libuv's close callback
};

}  // namespace zelto
