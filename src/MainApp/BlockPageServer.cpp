#include "MainApp/BlockPageServer.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>

#include "MainApp/HttpResponse.h"
#include "Platform/Linux/PortOwner.h"
#include "Platform/Log.h"
#include "Platform/Text.h"

namespace zelto {

class BlockPageServer::Connection {
 public:
  Connection(BlockPageServer& server, std::unique_ptr<TcpStream> client)
      : server_(server), client_(std::move(client)) {}

  void start() {
    timer_ = server_.loop_.addTimer(kHeadTimeoutSeconds, 0, [this] { end(); });
    client_->startReading([this](std::string_view bytes) { onData(bytes); },
                          [this](const Status&) { end(); });
  }

  // Stops the timer and closes the stream (ConnectionSet::remove): none of its callbacks runs
  // after this.
  void close() {
    timer_.reset();
    client_->close();
  }

 private:
  void end() { server_.remove(this); }

  void onData(std::string_view bytes) {
    Result<HttpRequestParser::Fed> fed = parser_.feed(bytes);
    if (!fed.ok()) {
      answer(HttpResponse::plain(parser_.errorStatus(), fed.status().message()));
    } else if (fed->head) {
      const HttpRequestHead& head = *fed->head;
      const bool headOnly = head.method == "HEAD";
      const HttpAnswer reply =
          namesThisServer(head, server_.port())
              ? server_.responder_(headOnly ? "GET" : head.method, head.target)
              : HttpAnswer{421, "text/plain; charset=utf-8",
                           "This server answers requests for localhost only.\n"};
      std::string response = HttpResponse::format(reply.status, reply.contentType, reply.body);
      if (headOnly) response.resize(response.size() - reply.body.size());
      answer(std::move(response));
    }
  }

  // The answer, then the end of the connection; what else the client sends is not read.
  void answer(std::string bytes) {
    client_->pauseReading();
    Status queued = client_->write(std::move(bytes), [this](const Status& written) {
      if (!written.ok()) log::debug("Block page: {}", written.message());
      end();
    });
    if (!queued.ok()) {
      log::debug("Block page: {}", queued.message());
      end();
    }
  }

  BlockPageServer& server_;
  std::unique_ptr<TcpStream> client_;
  HttpRequestParser parser_;
  std::unique_ptr<Registration> timer_;
};

BlockPageServer::BlockPageServer(RunLoop& loop, Network& network, Responder responder)
    : loop_(loop),
      network_(network),
      responder_(std::move(responder)),
      connections_(loop, kMaxConnections) {}

BlockPageServer::~BlockPageServer() { stop(); }

bool BlockPageServer::acceptsPeer(const std::optional<SocketAddress>& peer) {
  return peer && peer->isLoopback();
}

bool BlockPageServer::namesThisServer(const HttpRequestHead& head, int port) {
  std::optional<std::string_view> host;
  for (const auto& [name, value] : head.headers) {
    if (!Text::equalsIgnoringAsciiCase(name, "Host")) continue;
    if (host) return false;  // more than one
    host = value;
  }
  if (!host) return false;
  // The name, then ":port" or nothing; an IPv6 address is in brackets.
  size_t nameEnd = host->find(':');
  if (host->starts_with('[')) {
    nameEnd = host->find(']');
    if (nameEnd == std::string_view::npos) return false;
    ++nameEnd;
  }
  const std::string_view name = host->substr(0, nameEnd);
  const std::string_view rest = nameEnd < host->size() ? host->substr(nameEnd) : "";
  if (!rest.empty() && rest != ":" + std::to_string(port)) return false;
  for (std::string_view served : {"localhost", "127.0.0.1", "[::1]"}) {
    if (Text::equalsIgnoringAsciiCase(name, served)) return true;
  }
  return false;
}

Status BlockPageServer::start(int port) {
  stop();
  wantedPort_ = port;
  Status listened = listen();
  if (!listened.ok()) retryTimer_ = loop_.addTimer(kRetrySeconds, 0, [this] { retry(); });
  return listened;
}

Status BlockPageServer::listen() {
  auto onAccept = [this](std::unique_ptr<TcpStream> client) { accept(std::move(client)); };
  auto listener4 = network_.listen("127.0.0.1", wantedPort_, onAccept);
  if (!listener4.ok()) {
    // Held by another (EADDRINUSE): who holds it is worth saying once.
    if (listener4.status().isBusy() && !ownerLogged_) {
      ownerLogged_ = true;
      log::warning("Port {} of the block page is held by {}; trying again every second",
                   wantedPort_, PortOwner::describe(wantedPort_));
    }
    return listener4.status();
  }
  ownerLogged_ = false;
  listener4_ = std::move(*listener4);
  auto listener6 = network_.listen("::1", listener4_->port(), onAccept);
  if (listener6.ok()) {
    listener6_ = std::move(*listener6);
  } else {
    log::warning("Block page server not on IPv6: {}", listener6.status().message());
  }
  log::info("Block page server listening at port {}", listener4_->port());
  return Status::success();
}

void BlockPageServer::retry() {
  if (Status listened = listen(); !listened.ok()) {
    log::debug("Block page server still can't listen: {}", listened.message());
    retryTimer_ = loop_.addTimer(kRetrySeconds, 0, [this] { retry(); });
  }
}

int BlockPageServer::port() const { return listener4_ ? listener4_->port() : 0; }

void BlockPageServer::stop() {
  retryTimer_.reset();
  ownerLogged_ = false;
  listener4_.reset();
  listener6_.reset();
  connections_.clear();
}

void BlockPageServer::accept(std::unique_ptr<TcpStream> client) {
  if (!acceptsPeer(client->peerAddress())) return;
  connections_.add(std::make_unique<Connection>(*this, std::move(client))).start();
  followCapacity();
}

void BlockPageServer::remove(Connection* connection) {
  connections_.remove(connection);
  followCapacity();
}

// At the cap, and while descriptors run out, new connections wait in the kernel's queue.
void BlockPageServer::followCapacity() {
  connections_.followCapacity({listener4_.get(), listener6_.get()});
}

}  // namespace zelto
