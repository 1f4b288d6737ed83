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

  bool streaming() const { return streaming_; }

  // More of the stream; a peer that has let too much pile up is ended.
  void send(const std::string& bytes) {
    if (client_->queuedBytes() > kMaxQueuedStreamBytes) {
      log::debug("Block page: an event stream's reader fell behind; closing it");
      end();
      return;
    }
    if (Status queued = client_->write(bytes); !queued.ok()) {
      log::debug("Block page: {}", queued.message());
      end();
    }
  }

 private:
  void end() { server_.remove(this); }

  void onData(std::string_view bytes) {
    if (streaming_) return;  // what a stream's reader sends is not read
    if (head_) {
      takeBody(bytes);
      return;
    }
    Result<HttpRequestParser::Fed> fed = parser_.feed(bytes);
    if (!fed.ok()) {
      answer(HttpResponse::plain(parser_.errorStatus(), fed.status().message()));
      return;
    }
    if (!fed->head) return;
    head_ = std::move(*fed->head);
    if (!namesThisServer(*head_, server_.port())) {
      const std::string_view reason = "This server answers requests for localhost only.\n";
      std::string response = HttpResponse::format(421, "text/plain; charset=utf-8", reason);
      if (head_->method == "HEAD") response.resize(response.size() - reason.size());
      answer(std::move(response));
    } else if (head_->body == HttpRequestHead::Body::kChunked ||
               (head_->method == "POST" && head_->body == HttpRequestHead::Body::kNone)) {
      refuse(411, "A request body needs a Content-Length.");
    } else if (head_->body == HttpRequestHead::Body::kLength &&
               head_->contentLength > kMaxBodyBytes) {
      refuse(413, "The request body is larger than " + std::to_string(kMaxBodyBytes) + " bytes.");
    } else {
      takeBody(fed->rest);
    }
  }

  void takeBody(std::string_view bytes) {
    const uint64_t wanted =
        head_->body == HttpRequestHead::Body::kLength ? head_->contentLength : 0;
    body_.append(bytes.substr(0, wanted - body_.size()));
    if (body_.size() == wanted) respond();
  }

  void respond() {
    HttpRequestHead& head = *head_;
    const bool headOnly = head.method == "HEAD";
    if (headOnly) head.method = "GET";
    const HttpAnswer reply = server_.responder_(head, body_);
    if (reply.stream && !headOnly) {
      if (server_.streamCount() >= kMaxStreams) {
        answer(HttpResponse::plain(503, "Too many event streams are open."));
        return;
      }
      // No time limit now; the peer's end (or a failed write) ends the stream.
      timer_.reset();
      streaming_ = true;
      server_.followStreams();
      send(HttpResponse::formatOpenEnded(reply.status, reply.contentType, reply.fields) +
           reply.body);
      return;
    }
    std::string response =
        HttpResponse::format(reply.status, reply.contentType, reply.body, reply.fields);
    if (headOnly) response.resize(response.size() - reply.body.size());
    answer(std::move(response));
  }

  void refuse(int status, const std::string& reason) {
    answer(HttpResponse::format(status, "text/plain; charset=utf-8", reason + "\n",
                                server_.refusalFields_));
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
  std::optional<HttpRequestHead> head_;
  std::string body_;
  bool streaming_ = false;
  std::unique_ptr<Registration> timer_;
};

BlockPageServer::BlockPageServer(RunLoop& loop, Network& network, Responder responder)
    : BlockPageServer(
          loop, network,
          [responder = std::move(responder)](const HttpRequestHead& head, const std::string&) {
            return responder(head.method, head.target);
          }) {}

BlockPageServer::BlockPageServer(RunLoop& loop, Network& network, RequestResponder responder)
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
  keepAliveTimer_.reset();
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
  const bool stream = connections_.contains(connection) && connection->streaming();
  connections_.remove(connection);
  followCapacity();
  if (stream) followStreams();
}

size_t BlockPageServer::streamCount() const {
  return connections_.select([](const Connection& c) { return c.streaming(); }).size();
}

void BlockPageServer::broadcast(const std::string& bytes) {
  for (Connection* stream :
       connections_.select([](const Connection& c) { return c.streaming(); })) {
    if (connections_.contains(stream)) stream->send(bytes);
  }
}

// The keep-alive comment runs while a stream is open, and only then.
void BlockPageServer::followStreams() {
  if (streamCount() == 0) {
    keepAliveTimer_.reset();
  } else if (!keepAliveTimer_) {
    keepAliveTimer_ = loop_.addTimer(kKeepAliveSeconds, kKeepAliveSeconds,
                                     [this] { broadcast(": keep-alive\n\n"); });
  }
}

// At the cap, and while descriptors run out, new connections wait in the kernel's queue.
void BlockPageServer::followCapacity() {
  connections_.followCapacity({listener4_.get(), listener6_.get()});
}

}  // namespace zelto
