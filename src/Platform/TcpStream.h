// TcpStream: one TCP connection: reading in chunks, queued writes with their completion,
// half-close and close. The program's streams run on libuv (UvTcpStream); tests use in-memory
// ones (FakeNetwork) on a simulated loop.
//
// Destroying a stream (or `close`) closes the connection at once: queued writes are dropped and
// no callback of the stream runs afterwards, so an owner may destroy its stream from inside one
// of the stream's own callbacks.
//
// Ownership: whoever holds the unique_ptr. Threads: the thread of the loop the stream runs on;
// destroy every stream before its loop.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "Platform/SocketAddress.h"
#include "Platform/Status.h"

namespace zelto {

class TcpStream {
 public:
  // Bytes as they arrive; the view is valid during the call only.
  using DataCallback = std::function<void(std::string_view bytes)>;
  // The peer finished sending (success) or the connection failed (the reason).
  using EndCallback = std::function<void(Status)>;
  using WriteCallback = std::function<void(Status)>;

  virtual ~TcpStream() = default;

  // Starts (or resumes) reading; the callbacks are kept for later resumes. After an end nothing
  // more is read.
  virtual void startReading(DataCallback onData, EndCallback onEnd) = 0;
  virtual void resumeReading() = 0;
  virtual void pauseReading() = 0;

  // Queues `bytes`; `done` (optional) runs once they are written or the write failed. A write
  // the stream can't take at all (it is closed or shut down, or the system refuses it) fails
  // here, of the kind closed when the stream is, and `done` doesn't run: every failure reaches
  // the caller one way, never neither. Writing nothing succeeds at once and `done` doesn't run.
  virtual Status write(std::string bytes, WriteCallback done = {}) = 0;
  // Writes what the connection takes now without copying, in order and in one system call
  // where it can, and queues only the rest (a copy), as write() does; `done` runs once that
  // rest is written or failed, and never when nothing had to wait. Answers how many bytes were
  // queued, or fails as write() does.
  virtual Result<size_t> writeNow(std::span<const std::string_view> pieces,
                                  WriteCallback done = {}) = 0;
  Result<size_t> writeNow(std::string_view bytes, WriteCallback done = {}) {
    return writeNow(std::span<const std::string_view>(&bytes, 1), std::move(done));
  }
  // Bytes queued and not yet handed to the system.
  virtual size_t queuedBytes() const = 0;
  // Ends this side's sending once the queued bytes are written; the peer sees the end.
  virtual void shutdown() = 0;
  // Closes the connection now (the destructor does the same).
  virtual void close() = 0;
  virtual bool isOpen() const = 0;

  virtual std::optional<SocketAddress> peerAddress() const = 0;
  virtual std::optional<SocketAddress> localAddress() const = 0;
};

}  // namespace zelto
