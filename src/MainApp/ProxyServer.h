// ProxyServer: the filtering forward proxy the browser is configured to use, on 127.0.0.1.
//
// Each client connection carries one request: its head is read (ProxyRequestHandler), the
// decider says whether it passes, is redirected (302 to the block page) or refused (403); a
// passing request is connected upstream and, from then on, bytes are piped both ways until
// either side closes. CONNECT is tunnelled as bytes; TLS is never intercepted. Requests back to
// the proxy itself are refused ("loop"), before connecting and again on the resolved address.
//
// Bounded: the parser's head limits, a time limit on the head, on connecting and on idling,
// a cap on client connections, and per direction at most `maxQueuedBytes` waiting to be written
// before reading from the other side pauses.
//
// Owns its listener and every connection; the loop's thread only; destroy before the loop.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <unordered_map>

#include "MainApp/HttpRequestParser.h"
#include "MainApp/ProxyRequest.h"
#include "MainApp/ProxyVerdict.h"
#include "Platform/Linux/TcpListener.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Platform/Status.h"

namespace zelto {

class ProxyServer {
 public:
  using Decider = std::function<ProxyVerdict(const ProxyRequest&)>;

  struct Options {
    double headTimeoutSeconds = 30;      // from accepting until the request head is read
    double connectTimeoutSeconds = 10;   // resolving and connecting upstream
    double idleTimeoutSeconds = 5 * 60;  // no bytes either way once piping
    size_t maxConnections = 512;
    size_t maxQueuedBytes = 256 * 1024;
    HttpRequestParser::Limits limits;
  };

  ProxyServer(UvRunLoop& loop, Decider decider);
  ProxyServer(UvRunLoop& loop, Decider decider, Options options);
  ~ProxyServer();
  ProxyServer(const ProxyServer&) = delete;
  ProxyServer& operator=(const ProxyServer&) = delete;

  // Listens on 127.0.0.1 at `port` (0: any free port). Fails when it can't listen.
  Status start(int port);
  // The port listened at; 0 when not started.
  int port() const;
  // Stops listening and closes every connection.
  void stop();
  size_t connectionCount() const { return connections_.size(); }

 private:
  class Connection;
  void accept(std::unique_ptr<TcpStream> client);
  void remove(Connection* connection);

  UvRunLoop& loop_;
  Decider decider_;
  Options options_;
  std::unique_ptr<TcpListener> listener_;
  std::unordered_map<Connection*, std::unique_ptr<Connection>> connections_;
  bool capLogged_ = false;
};

}  // namespace zelto
