// HostResolver: looks up the TCP addresses of a host name without blocking the loop.
//
// The proxy asks one of these for the host of each request it forwards (AresResolver in the
// program, a fake in tests). Answers arrive on the loop's thread, never inside `resolve`
// itself. Destroying the handle `resolve` returns cancels that request: its callback never runs
// afterwards, and the handle may be destroyed from inside its own callback.
//
// Ownership: the caller owns each handle; handles may outlive the resolver (destroying them
// later is harmless). Threads: the loop's thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Registration.h"
#include "Platform/SocketAddress.h"
#include "Platform/Status.h"

namespace zelto {

class HostResolver {
 public:
  // The addresses, each with the port asked for; a failure names the host and the cause
  // ("cannot resolve example.test: Domain name not found").
  using Callback = std::function<void(Result<std::vector<SocketAddress>>)>;

  virtual ~HostResolver() = default;

  // The TCP addresses of `host` at `port`, IPv4 and IPv6. `host` is a name; a numeric address
  // ("192.0.2.2", "::1", "[::1]") is answered as it stands, without a lookup.
  virtual std::unique_ptr<Registration> resolve(const std::string& host, int port,
                                                Callback callback) = 0;
};

}  // namespace zelto
