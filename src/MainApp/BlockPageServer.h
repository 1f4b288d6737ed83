// BlockPageServer: the local HTTP server of the block page and the proxy auto-configuration
// file, on 127.0.0.1 and ::1 at one port.
//
// Each connection gets one answer: its request head is read (HttpRequestParser), the responder
// says what to answer (status, type, body), the answer is written with Content-Length,
// "Connection: close" and "Cache-Control: no-store", and the connection closes. Malformed
// requests get the parser's status; peers that are not on this machine's loopback are closed
// without an answer; a head that doesn't arrive within the time limit closes the connection.
//
// Owns its listeners and connections; the loop's thread only; destroy before the loop.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "MainApp/BlockPage.h"
#include "Platform/Linux/SocketAddress.h"
#include "Platform/Linux/TcpListener.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Platform/Status.h"

namespace zelto {

class BlockPageServer {
 public:
  using Responder = std::function<HttpAnswer(const std::string& method, const std::string& target)>;

  static constexpr double kHeadTimeoutSeconds = 30;
  static constexpr size_t kMaxConnections = 512;

  BlockPageServer(UvRunLoop& loop, Responder responder);
  ~BlockPageServer();
  BlockPageServer(const BlockPageServer&) = delete;
  BlockPageServer& operator=(const BlockPageServer&) = delete;

  // Listens on 127.0.0.1 at `port` (0: any free port) and on ::1 at the same port; ::1 missing
  // is only logged. Fails when 127.0.0.1 can't be listened on.
  Status start(int port);
  // The port listened at; 0 when not started.
  int port() const;
  void stop();
  size_t connectionCount() const { return connections_.size(); }

  // Whether a connection from `peer` is answered: loopback peers only.
  static bool acceptsPeer(const std::optional<SocketAddress>& peer);

 private:
  class Connection;
  void accept(std::unique_ptr<TcpStream> client);
  void remove(Connection* connection);

  UvRunLoop& loop_;
  Responder responder_;
  std::unique_ptr<TcpListener> listener4_;
  std::unique_ptr<TcpListener> listener6_;
  std::unordered_map<Connection*, std::unique_ptr<Connection>> connections_;
};

}  // namespace zelto
