// TcpListener: a listening TCP socket that hands each accepted connection to its owner as a
// TcpStream (made by a Network).
//
// Accepting can be paused: connections then wait in the kernel's queue (they are neither
// accepted nor refused) until `resume`. A server pauses when it is at its connection cap, and
// the listener pauses itself when the process is out of descriptors, telling its owner once
// through the exhausted callback, and tries again a second later or at the owner's `resume`; a
// connection accepted is never one that must then be dropped for want of a descriptor.
//
// Ownership: destroying the listener stops accepting (connections already accepted belong to
// whoever received them). Threads: its loop's thread; destroy before the loop.
#pragma once

#include <functional>
#include <memory>

#include "Platform/Status.h"
#include "Platform/TcpStream.h"

namespace zelto {

class TcpListener {
 public:
  using AcceptCallback = std::function<void(std::unique_ptr<TcpStream>)>;
  // Accepting failed for want of descriptors (the reason); the listener has paused itself.
  using ExhaustedCallback = std::function<void(const Status&)>;

  virtual ~TcpListener() = default;

  // The port listened at.
  virtual int port() const = 0;
  virtual void onExhausted(ExhaustedCallback callback) = 0;
  // Stops taking connections off the queue; `resume` takes them again. Both may be called
  // from the accept callback.
  virtual void pause() = 0;
  virtual void resume() = 0;
  virtual bool isPaused() const = 0;
};

}  // namespace zelto
