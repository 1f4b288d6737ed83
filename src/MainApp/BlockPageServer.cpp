#include "MainApp/BlockPageServer.h"

#include <utility>

#include "MainApp/HttpRequestParser.h"
#include "MainApp/HttpResponse.h"
#include "Platform/Linux/UvTimer.h"
#include "Platform/Log.h"

namespace zelto {

class BlockPageServer::Connection {
 public:
  Connection(BlockPageServer& server, std::unique_ptr<TcpStream> client)
      : server_(server), client_(std::move(client)), timer_(server.loop_, [this] { end(); }) {}

  void start() {
    timer_.start(kHeadTimeoutSeconds);
    client_->startReading([this](std::string_view bytes) { onData(bytes); },
                          [this](const Status&) { end(); });
  }

 private:
  void end() { server_.remove(this); }

  void onData(std::string_view bytes) {
    Result<HttpRequestParser::Fed> fed = parser_.feed(bytes);
    if (!fed.ok()) {
      answer(HttpResponse::plain(parser_.errorStatus(), fed.status().message()));
    } else if (fed->head) {
      const HttpAnswer reply = server_.responder_(fed->head->method, fed->head->target);
      answer(HttpResponse::format(reply.status, reply.contentType, reply.body));
    }
  }

  // The answer, then the end of the connection; what else the client sends is not read.
  void answer(std::string bytes) {
    client_->pauseReading();
    client_->write(std::move(bytes), [this](const Status&) { end(); });
  }

  BlockPageServer& server_;
  std::unique_ptr<TcpStream> client_;
  HttpRequestParser parser_;
  UvTimer timer_;
};

BlockPageServer::BlockPageServer(UvRunLoop& loop, Responder responder)
    : loop_(loop), responder_(std::move(responder)) {}

BlockPageServer::~BlockPageServer() { stop(); }

bool BlockPageServer::acceptsPeer(const std::optional<SocketAddress>& peer) {
  return peer && peer->isLoopback();
}

Status BlockPageServer::start(int port) {
  stop();
  auto onAccept = [this](std::unique_ptr<TcpStream> client) { accept(std::move(client)); };
  auto listener4 = TcpListener::listen(loop_, "127.0.0.1", port, onAccept);
  if (!listener4.ok()) return listener4.status();
  listener4_ = std::move(*listener4);
  auto listener6 = TcpListener::listen(loop_, "::1", listener4_->port(), onAccept);
  if (listener6.ok()) {
    listener6_ = std::move(*listener6);
  } else {
    log::warning("Block page server not on IPv6: {}", listener6.status().message());
  }
  log::info("Block page server listening at port {}", listener4_->port());
  return Status::success();
}

int BlockPageServer::port() const { return listener4_ ? listener4_->port() : 0; }

void BlockPageServer::stop() {
  listener4_.reset();
  listener6_.reset();
  connections_.clear();
}

void BlockPageServer::accept(std::unique_ptr<TcpStream> client) {
  if (!acceptsPeer(client->peerAddress()) || connections_.size() >= kMaxConnections) return;
  auto connection = std::make_unique<Connection>(*this, std::move(client));
  Connection* raw = connection.get();
  connections_.emplace(raw, std::move(connection));
  raw->start();
}

void BlockPageServer::remove(Connection* connection) { connections_.erase(connection); }

}  // namespace zelto
