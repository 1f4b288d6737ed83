// AresResolver: the HostResolver of the program, on c-ares, driven by a UvRunLoop.
//
// Lookups follow the system's configuration (/etc/resolv.conf, then /etc/hosts first where it
// says so) and ask for IPv4 and IPv6 addresses at once. c-ares's sockets are watched by the
// loop and its timeouts run on a loop timer: no threads, no blocking. Answers are kept in a
// small cache for as long as their TTL says (within bounds), failures briefly, so that a name
// asked for again and again, or one that doesn't resolve, is not asked of the servers each
// time; lookups of a name already being looked up wait for that lookup instead of starting
// another. The oldest cache entries make room for new ones.
//
// Ownership: the creator owns the resolver and destroys it before the loop, never from inside
// one of its callbacks; handles may outlive it. Threads: the loop's thread only.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "Platform/Clock.h"
#include "Platform/HostResolver.h"
#include "Platform/Linux/UvRunLoop.h"

namespace zelto {

class AresResolver final : public HostResolver {
 public:
  struct Options {
    // Name servers to ask instead of resolv.conf's, as "127.0.0.1:5353,[::1]:53"; empty: the
    // system's.
    std::string servers;
    // The time one try waits for an answer, and the tries per server; 0: the system's.
    int timeoutMilliseconds = 0;
    int tries = 0;
    // Names whose answers are kept.
    size_t cacheEntries = 1024;
    // Answers are kept for their TTL, but no shorter than the floor and no longer than the cap.
    double minimumTtlSeconds = 5;
    double maximumTtlSeconds = 300;
    // How long a failed lookup's failure is kept.
    double failureTtlSeconds = 5;
  };

  // Fails when c-ares can't be set up (or refuses `options.servers`), saying why.
  static Result<std::unique_ptr<AresResolver>> create(UvRunLoop& loop, const Clock& clock,
                                                      Options options);
  static Result<std::unique_ptr<AresResolver>> create(UvRunLoop& loop, const Clock& clock) {
    return create(loop, clock, Options());
  }
  ~AresResolver() override;
  AresResolver(const AresResolver&) = delete;
  AresResolver& operator=(const AresResolver&) = delete;

  std::unique_ptr<Registration> resolve(const std::string& host, int port,
                                        Callback callback) override;

  // How many lookups were handed to c-ares so far (cache hits and shared lookups add none).
  size_t lookupsStarted() const;
  // How many names the cache holds, expired ones included until they are asked for again.
  size_t cachedNames() const;

  struct Impl;

 private:
  explicit AresResolver(std::unique_ptr<Impl> impl);

  std::unique_ptr<Impl> impl_;
};

}  // namespace zelto
