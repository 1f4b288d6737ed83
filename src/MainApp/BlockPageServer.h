// BlockPageServer: the local HTTP server of the block page and the proxy auto-configuration
// file, on 127.0.0.1 and ::1 at one port.
//
// Each connection gets one answer: its request head is read (HttpRequestParser), then a body
// framed by Content-Length (at most kMaxBodyBytes, else 413; a chunked body, or a POST without a
// length, gets 411), the responder says what to answer (status, type, body, extra fields), the
// answer is written with Content-Length, "Connection: close" and "Cache-Control: no-store", and
// the connection closes. HEAD is asked of the responder as GET and answered with the same head
// and no body. An answer the responder marks as a stream (Server-Sent Events) keeps its
// connection open without a time limit, at most kMaxStreams at once (more get 503): broadcast()
// writes to all of them, a comment every kKeepAliveSeconds keeps them alive while any is open,
// and one whose peer closes, or stops reading (more than kMaxQueuedStreamBytes waiting), ends.
// Malformed requests get
// the parser's status; a request whose Host field doesn't name this server (localhost,
// 127.0.0.1 or [::1], at its port or none), or that has no Host field, gets 421, so that a web
// page whose name was rebound to a loopback address can't read anything; peers that are not on
// this machine's loopback are closed without an answer; a head that doesn't arrive within the
// time limit closes the connection.
//
// When the port can't be listened on, the server tries again every kRetrySeconds until it
// listens (or stops); when another program holds the port, it logs which, once per run of
// failures.
//
// Owns its listeners, connections (a ConnectionSet: a connection that ends is closed at once and
// destroyed from the loop) and retry timer; the loop's thread only; destroy before the loop.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "MainApp/BlockPage.h"
#include "MainApp/ConnectionSet.h"
#include "MainApp/HttpRequestParser.h"
#include "MainApp/HttpResponse.h"
#include "Platform/Network.h"
#include "Platform/RunLoop.h"
#include "Platform/SocketAddress.h"
#include "Platform/Status.h"

namespace zelto {

class BlockPageServer {
 public:
  // Asked with the method ("GET" for a HEAD request too) and the target of each request that
  // names this server.
  using Responder = std::function<HttpAnswer(const std::string& method, const std::string& target)>;
  // The same with the whole request: its head (method "GET" for HEAD) and its body.
  using RequestResponder =
      std::function<HttpAnswer(const HttpRequestHead& head, const std::string& body)>;

  static constexpr double kHeadTimeoutSeconds = 30;  // for the head and the body
  static constexpr size_t kMaxBodyBytes = 64 * 1024;
  static constexpr size_t kMaxStreams = 16;
  static constexpr double kKeepAliveSeconds = 15;
  static constexpr size_t kMaxQueuedStreamBytes = 1024 * 1024;
  static constexpr double kRetrySeconds = 1;
  static constexpr size_t kMaxConnections = 512;

  // Timers run on `loop` and sockets come from `network`; both outlive the server.
  BlockPageServer(RunLoop& loop, Network& network, Responder responder);
  BlockPageServer(RunLoop& loop, Network& network, RequestResponder responder);
  ~BlockPageServer();
  BlockPageServer(const BlockPageServer&) = delete;
  BlockPageServer& operator=(const BlockPageServer&) = delete;

  // Listens on 127.0.0.1 at `port` (0: any free port) and on ::1 at the same port; ::1 missing
  // is only logged. Fails when 127.0.0.1 can't be listened on, and then keeps trying every
  // kRetrySeconds until it listens, or until stop() or another start().
  Status start(int port);
  // The port listened at; 0 when not listening.
  int port() const;
  // Stops listening (and trying to), and ends every connection.
  void stop();
  size_t connectionCount() const { return connections_.size(); }
  size_t streamCount() const;
  // Writes `bytes` to every open stream.
  void broadcast(const std::string& bytes);

  // Header fields the server's own refusals of a body (411, 413) carry besides the usual ones.
  void setRefusalFields(HttpResponse::Fields fields) { refusalFields_ = std::move(fields); }
  // Whether a connection from `peer` is answered: loopback peers only.
  static bool acceptsPeer(const std::optional<SocketAddress>& peer);
  // The most connections served at once (kMaxConnections unless set); more wait to be accepted.
  void setMaxConnections(size_t count) { connections_.setLimit(count); }
  // Whether `head` is addressed to this server at `port`: exactly one Host field, naming
  // localhost, 127.0.0.1 or [::1] (any case), with `port` or no port.
  static bool namesThisServer(const HttpRequestHead& head, int port);

 private:
  class Connection;
  Status listen();
  void retry();
  void accept(std::unique_ptr<TcpStream> client);
  void remove(Connection* connection);
  void followCapacity();
  void followStreams();

  RunLoop& loop_;
  Network& network_;
  RequestResponder responder_;
  HttpResponse::Fields refusalFields_;
  int wantedPort_ = 0;
  bool ownerLogged_ = false;  // who holds the port, in this run of failures
  std::unique_ptr<Registration> retryTimer_;
  std::unique_ptr<Registration> keepAliveTimer_;  // while streams are open
  std::unique_ptr<TcpListener> listener4_;
  std::unique_ptr<TcpListener> listener6_;
  ConnectionSet<Connection> connections_;
};

}  // namespace zelto
