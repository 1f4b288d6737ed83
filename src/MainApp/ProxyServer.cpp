#include "MainApp/ProxyServer.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "MainApp/HttpResponse.h"
#include "MainApp/ProxyRequestHandler.h"
#include "Platform/Linux/UvTimer.h"
#include "Platform/Log.h"

namespace zelto {

// One client connection: its head, the upstream connection it leads to, and the pipe between
// the two. Every callback of its streams, steps and timer runs only while it exists; a callback
// that ends the connection (remove) returns right after.
class ProxyServer::Connection {
 public:
  Connection(ProxyServer& server, std::unique_ptr<TcpStream> client)
      : server_(server),
        client_(std::move(client)),
        handler_(server.decider_, server.port(), server.options_.limits),
        timer_(server.loop_, [this] { onTimeout(); }) {}

  void start() {
    timer_.start(server_.options_.headTimeoutSeconds);
    client_->startReading([this](std::string_view bytes) { onClientData(bytes); },
                          [this](Status end) { onClientEnd(end); });
  }

 private:
  enum class Phase { kHead, kConnecting, kPiping, kAnswering };

  const ProxyServer::Options& options() const { return server_.options_; }
  void end() { server_.remove(this); }

  void onClientData(std::string_view bytes) {
    if (phase_ == Phase::kPiping) {
      pipe(bytes, *upstream_, *client_);
      return;
    }
    if (phase_ != Phase::kHead) return;
    ProxyRequestHandler::Step step = handler_.feed(bytes);
    switch (step.kind) {
      case ProxyRequestHandler::Step::Kind::kNeedMore:
        return;
      case ProxyRequestHandler::Step::Kind::kAnswer:
        answer(std::move(step.bytes));
        return;
      case ProxyRequestHandler::Step::Kind::kForward:
        forward(std::move(step));
        return;
    }
  }

  void onClientEnd(const Status& end) {
    if (phase_ != Phase::kPiping || !end.ok()) {
      this->end();
      return;
    }
    clientEnded_ = true;
    upstream_->shutdown();
    endWhenDone();
  }

  void onUpstreamData(std::string_view bytes) { pipe(bytes, *client_, *upstream_); }

  void onUpstreamEnd(const Status& end) {
    if (!end.ok()) {
      this->end();
      return;
    }
    // The answer is complete: what the client still sends has nowhere to go.
    upstreamEnded_ = true;
    client_->pauseReading();
    client_->shutdown();
    endWhenDone();
  }

  void onTimeout() {
    if (phase_ == Phase::kConnecting) {
      answer(HttpResponse::plain(502, "timed out connecting to " + target_.host));
      return;
    }
    end();
  }

  // Answers and closes once the answer is written (or the head timeout runs out first).
  void answer(std::string bytes) {
    phase_ = Phase::kAnswering;
    step_.reset();
    upstream_.reset();
    client_->pauseReading();
    timer_.start(options().headTimeoutSeconds);
    client_->write(std::move(bytes), [this](const Status&) { end(); });
  }

  void forward(ProxyRequestHandler::Step step) {
    phase_ = Phase::kConnecting;
    target_ = std::move(step);
    client_->pauseReading();
    timer_.start(options().connectTimeoutSeconds);
    step_ = TcpStream::resolve(
        server_.loop_, target_.host, target_.port,
        [this](Result<std::vector<SocketAddress>> addresses) { onResolved(std::move(addresses)); });
  }

  void onResolved(Result<std::vector<SocketAddress>> addresses) {
    if (!addresses.ok()) {
      answer(HttpResponse::plain(502, "cannot resolve " + target_.host));
      return;
    }
    const int ownPort = server_.port();
    if (std::any_of(addresses->begin(), addresses->end(), [&](const SocketAddress& address) {
          return address.port() == ownPort && address.isThisMachine();
        })) {
      answer(HttpResponse::plain(403, "loop"));
      return;
    }
    step_ = TcpStream::connect(
        server_.loop_, std::move(*addresses),
        [this](Result<std::unique_ptr<TcpStream>> upstream) { onConnected(std::move(upstream)); });
  }

  void onConnected(Result<std::unique_ptr<TcpStream>> upstream) {
    if (!upstream.ok()) {
      answer(HttpResponse::plain(502, upstream.status().message() + " (" + target_.host + ":" +
                                          std::to_string(target_.port) + ")"));
      return;
    }
    phase_ = Phase::kPiping;
    upstream_ = std::move(*upstream);
    timer_.start(options().idleTimeoutSeconds);
    if (target_.isConnect) client_->write("HTTP/1.1 200 Connection Established\r\n\r\n");
    if (!target_.bytes.empty()) pipe(std::exchange(target_.bytes, {}), *upstream_, *client_);
    upstream_->startReading([this](std::string_view bytes) { onUpstreamData(bytes); },
                            [this](Status end) { onUpstreamEnd(end); });
    client_->resumeReading();
  }

  // Writes `bytes` read from `from` to `to`; reading `from` pauses while `to` has too much
  // waiting and resumes once it is written.
  void pipe(std::string_view bytes, TcpStream& to, TcpStream& from) {
    timer_.start(options().idleTimeoutSeconds);
    to.write(std::string(bytes), [this, &to, &from](const Status& written) {
      if (!written.ok()) {
        end();
        return;
      }
      // Once the upstream has finished, the client's further bytes are not read.
      const bool fromClient = &from == client_.get();
      if (to.queuedBytes() == 0 && !(fromClient && upstreamEnded_)) from.resumeReading();
      endWhenDone();
    });
    if (to.queuedBytes() > options().maxQueuedBytes) from.pauseReading();
  }

  // Ends the connection once the upstream has finished and everything is written.
  void endWhenDone() {
    if (upstreamEnded_ && client_->queuedBytes() == 0 && upstream_->queuedBytes() == 0) end();
  }

  ProxyServer& server_;
  std::unique_ptr<TcpStream> client_;
  std::unique_ptr<TcpStream> upstream_;
  ProxyRequestHandler handler_;
  UvTimer timer_;
  std::unique_ptr<Registration> step_;  // resolving or connecting
  ProxyRequestHandler::Step target_;
  Phase phase_ = Phase::kHead;
  bool clientEnded_ = false;
  bool upstreamEnded_ = false;
};

ProxyServer::ProxyServer(UvRunLoop& loop, Decider decider)
    : ProxyServer(loop, std::move(decider), Options()) {}

ProxyServer::ProxyServer(UvRunLoop& loop, Decider decider, Options options)
    : loop_(loop), decider_(std::move(decider)), options_(options) {}

ProxyServer::~ProxyServer() { stop(); }

Status ProxyServer::start(int port) {
  stop();
  auto listener =
      TcpListener::listen(loop_, "127.0.0.1", port,
                          [this](std::unique_ptr<TcpStream> client) { accept(std::move(client)); });
  if (!listener.ok()) return listener.status();
  listener_ = std::move(*listener);
  log::info("Proxy listening at 127.0.0.1:{}", listener_->port());
  return Status::success();
}

int ProxyServer::port() const { return listener_ ? listener_->port() : 0; }

void ProxyServer::stop() {
  listener_.reset();
  connections_.clear();
}

void ProxyServer::accept(std::unique_ptr<TcpStream> client) {
  if (connections_.size() >= options_.maxConnections) {
    if (!capLogged_) {
      log::warning("Proxy at its limit of {} connections: closing new ones",
                   options_.maxConnections);
      capLogged_ = true;
    }
    return;  // closes the connection
  }
  capLogged_ = false;
  auto connection = std::make_unique<Connection>(*this, std::move(client));
  Connection* raw = connection.get();
  connections_.emplace(raw, std::move(connection));
  raw->start();
}

void ProxyServer::remove(Connection* connection) { connections_.erase(connection); }

}  // namespace zelto
