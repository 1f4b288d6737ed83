// ProxyServer: the filtering forward proxy the browser is configured to use, on 127.0.0.1.
//
// HTTP/1.1 per request: on each client connection every request is read and decided
// (ProxyRequestHandler), a passing one is sent upstream with exactly the body its head frames,
// its response is read (HttpResponseReader) to know where it ends, and only then is the next
// request on the connection taken, parsed and decided again. Client connections stay open; an
// upstream connection is kept for the next request to the same host and port. A refused
// request is answered (302 to the block page, or 403) and its connection closed. CONNECT, and a
// protocol switch the origin accepts (101), become byte tunnels; TLS is never intercepted.
// Requests back to the proxy itself are refused ("loop"), before connecting and again on the
// resolved address. Names are resolved by the HostResolver given; addresses never are.
//
// Open connections follow the rules: `redecide` asks the decider again about what each
// connection is connected to and closes those that are blocked now.
//
// Bounded: the parser's head limits, time limits (head, connecting, idling), a cap on client
// connections (beyond it new ones wait in the kernel's queue, as they do while descriptors run
// out), per direction a high mark of bytes waiting to be written past which reading from the
// other side pauses until half of it is written. Above half the cap, heads that are still
// incomplete after `slowHeadSeconds` are closed first, and at the cap a head that arrives
// incomplete is closed at once, so that complete requests keep being served even behind a
// queue of slow ones. Each overload is logged once, with "Proxy overloaded:". The time limits
// are swept by a timer that runs only while connections are open (or accepting waits for
// descriptors): an idle proxy has no timer.
//
// Owns its listener and every connection (a ConnectionSet: a connection that ends is closed at
// once and destroyed from the loop); the loop's thread only; destroy before the loop.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "MainApp/ConnectionSet.h"
#include "MainApp/HttpRequestParser.h"
#include "MainApp/ProxyRequest.h"
#include "MainApp/ProxyVerdict.h"
#include "Platform/Clock.h"
#include "Platform/HostResolver.h"
#include "Platform/Network.h"
#include "Platform/RunLoop.h"
#include "Platform/Status.h"

namespace zelto {

class ProxyServer {
 public:
  using Decider = std::function<ProxyVerdict(const ProxyRequest&)>;

  struct Options {
    double headTimeoutSeconds = 30;      // from accepting, or the last response, to a whole head
    double slowHeadSeconds = 3;          // above half the cap, incomplete heads older than this go
    double connectTimeoutSeconds = 10;   // resolving and connecting upstream
    double idleTimeoutSeconds = 5 * 60;  // no bytes either way during an exchange or a tunnel
    size_t maxConnections = 512;
    size_t highWaterBytes = 256 * 1024;  // waiting to be written before reading pauses
    size_t maxDrainBytes = 1024 * 1024;  // a refused request's body read and dropped
    HttpRequestParser::Limits limits;
  };

  // Timers run on `loop`, deadlines are read from `clock`'s monotonic time, sockets come from
  // `network` and names are looked up by `resolver`; all four outlive the server.
  ProxyServer(RunLoop& loop, const Clock& clock, Network& network, HostResolver& resolver,
              Decider decider, Options options);
  ProxyServer(RunLoop& loop, const Clock& clock, Network& network, HostResolver& resolver,
              Decider decider)
      : ProxyServer(loop, clock, network, resolver, std::move(decider), Options()) {}
  ~ProxyServer();
  ProxyServer(const ProxyServer&) = delete;
  ProxyServer& operator=(const ProxyServer&) = delete;

  static constexpr double kRetrySeconds = 1;

  // Listens on 127.0.0.1 at `port` (0: any free port). Fails when it can't listen, and then
  // tries again every kRetrySeconds (saying once who holds the port) until it listens, or
  // until stop() or another start().
  Status start(int port);
  // The port listened at; 0 when not listening.
  int port() const;
  // Stops listening and closes every connection.
  void stop();
  size_t connectionCount() const { return connections_.size(); }

  // Decides every tunnel and every connection with an upstream again, on what it is connected
  // to (the last request's URL); closes those the decider doesn't pass now.
  void redecide();

 private:
  class Connection;
  Status listen();
  void retry();
  void accept(std::unique_ptr<TcpStream> client);
  void remove(Connection* connection);
  void sweep();
  // Arms the sweep while connections are open or accepting waits for descriptors; else none.
  void followSweeper();
  void closeSlowHeads(double now);
  bool isFull() const;
  void shed(Connection* connection);
  void logOverload(const std::string& what);
  void followCapacity();
  double now() const;

  RunLoop& loop_;
  const Clock& clock_;
  Network& network_;
  HostResolver& resolver_;
  Decider decider_;
  Options options_;
  std::unique_ptr<TcpListener> listener_;
  ConnectionSet<Connection> connections_;
  std::unique_ptr<Registration> sweeper_;
  std::unique_ptr<Registration> retryTimer_;
  int wantedPort_ = 0;
  bool ownerLogged_ = false;
  bool outOfDescriptors_ = false;
  double overloadLoggedAt_ = -1e9;
};

}  // namespace zelto
