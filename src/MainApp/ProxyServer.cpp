#include "MainApp/ProxyServer.h"

#include <fmt/format.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "MainApp/HttpResponse.h"
#include "MainApp/HttpResponseReader.h"
#include "MainApp/ProxyRequestHandler.h"
#include "Platform/Linux/PortOwner.h"
#include "Platform/Log.h"

namespace zelto {

namespace {

// How long a closing connection reads what the client still sends (so that it sees the answer
// rather than a reset) before it is closed anyway.
constexpr double kDrainSeconds = 5;
// An overload (connections at the cap, slow heads, no descriptors) is logged at most this often.
constexpr double kOverloadLogSeconds = 60;

}  // namespace

// One client connection: its requests, the upstream connection they go to, and the responses
// coming back. Every callback of its streams and steps runs only while it is in the server's
// set; a callback that ends the connection (end) returns right after.
class ProxyServer::Connection {
 public:
  using Step = ProxyRequestHandler::Step;

  Connection(ProxyServer& server, std::unique_ptr<TcpStream> client)
      : server_(server),
        client_(std::move(client)),
        handler_(server.decider_, server.port(), server.options_.limits) {
    waitingSince_ = server_.now();
    deadline_ = waitingSince_ + options().headTimeoutSeconds;
  }

  void start() {
    client_->startReading([this](std::string_view bytes) { onClientData(bytes); },
                          [this](Status end) { onClientEnd(end); });
  }

  bool expired(double now) const { return now >= deadline_; }

  // Closes both streams and cancels what it waits for (ConnectionSet::remove): none of its
  // callbacks runs after this.
  void close() {
    step_.reset();
    if (upstream_) upstream_->close();
    client_->close();
  }

  // Waiting for a head (a new or kept-alive connection, or one whose head is still arriving)
  // for `seconds` or more.
  bool waitingForHead(double now, double seconds) const {
    return state_ == State::kHead && now - waitingSince_ >= seconds;
  }

  // Whether what this connection is connected to is refused now.
  bool refusedNow() const {
    const bool connected = state_ == State::kConnecting || state_ == State::kExchange ||
                           state_ == State::kTunnel || (state_ == State::kHead && upstream_);
    return connected && server_.decider_(current_).kind != ProxyVerdict::Kind::kPass;
  }
  const ProxyRequest& current() const { return current_; }

  void onTimeout() {
    if (brokenWrite_) {
      end();
      return;
    }
    switch (state_) {
      case State::kConnecting:
        answer(HttpResponse::plain(504, "timed out connecting to " + current_.host));
        return;
      case State::kExchange:
        if (!responseStarted_) {
          answer(HttpResponse::plain(504, "no answer from " + current_.host + " in time"));
          return;
        }
        break;
      default:
        break;
    }
    end();
  }

 private:
  enum class State {
    kHead,        // waiting for the next request's head
    kConnecting,  // resolving and connecting upstream for a request
    kExchange,    // a request going up (its body) and its response coming back
    kTunnel,      // CONNECT or a protocol switch: bytes both ways
    kClosing,     // everything for the client is written; reading what it still sends
  };

  const ProxyServer::Options& options() const { return server_.options_; }
  void end() { server_.remove(this); }
  double now() const { return server_.now(); }

  // -- The client's side.

  void onClientData(std::string_view bytes) {
    switch (state_) {
      case State::kTunnel:
        deadline_ = now() + options().idleTimeoutSeconds;
        send(*upstream_, bytes);
        return;
      case State::kClosing:
        drained_ += bytes.size();
        if (drained_ > options().maxDrainBytes) end();
        return;
      default:
        handler_.receive(bytes);
        pump();
        return;
    }
  }

  void onClientEnd(const Status& status) {
    if (!status.ok()) {
      end();
      return;
    }
    clientEnded_ = true;
    closeAfter_ = true;
    switch (state_) {
      case State::kTunnel:
        upstream_->shutdown();
        if (upstreamEnded_) endWhenWritten();
        return;
      case State::kClosing:
        endWhenWritten();
        return;
      case State::kHead:
        // Whole requests were taken as they came: what is left can't become one any more. The
        // last response may still be on its way out.
        endWhenWritten();
        return;
      case State::kExchange:
        if (!requestDone_) end();  // its body will never be complete
        return;
      case State::kConnecting:
        return;
    }
  }

  // Hands out what the client sent, as far as the exchange in progress allows.
  void pump() {
    while (true) {
      if (state_ == State::kHead) {
        Step step = handler_.next();
        if (step.kind == Step::Kind::kNeedMore) {
          // At the cap, a head that didn't come whole makes room for the connections queued
          // behind it (a queue of slow heads must not hold back complete requests).
          if (handler_.buffered() == 0 && handler_.inHead() && server_.isFull()) {
            server_.shed(this);
            return;
          }
          break;
        }
        if (step.kind == Step::Kind::kAnswer && step.keepsOpen) {
          // A refused request without a body: answered, and the next one is read.
          send(*client_, step.bytes);
          waitingSince_ = now();
          deadline_ = waitingSince_ + options().headTimeoutSeconds;
          continue;
        }
        if (step.kind == Step::Kind::kAnswer) {
          answer(std::move(step.bytes));
          return;
        }
        if (step.kind != Step::Kind::kForward) break;  // a head gives nothing else
        forward(std::move(step));
        if (state_ != State::kExchange) return;
        continue;
      }
      if (state_ != State::kExchange || requestDone_ || clientHeld_) break;
      Step step = handler_.next();
      if (step.kind == Step::Kind::kNeedMore) break;
      if (step.kind == Step::Kind::kBody) {
        deadline_ = now() + options().idleTimeoutSeconds;
        send(*upstream_, step.bytes);
        continue;
      }
      if (step.kind == Step::Kind::kAnswer) {
        // A body that breaks its own framing: nothing more can be told apart.
        log::debug("Proxy: {}", step.bytes.substr(0, step.bytes.find('\r')));
        end();
        return;
      }
      requestDone_ = true;  // kBodyEnd
      if (responseDone_) {
        finishExchange();
        return;
      }
    }
    updateReading();
  }

  // Answers, and closes once the answer is written and what the client still sends is read.
  void answer(std::string bytes) {
    state_ = State::kClosing;
    step_.reset();
    upstream_.reset();
    deadline_ = now() + kDrainSeconds;
    Status queued = client_->write(std::move(bytes),
                                   [this](const Status& written) { onClientWritten(written); });
    if (!queued.ok()) {
      log::debug("Proxy: can't answer: {}", queued.message());
      end();
      return;
    }
    client_->shutdown();
    if (clientEnded_) {
      endWhenWritten();
      return;
    }
    client_->resumeReading();
  }

  // Closes once everything queued for the client is written.
  void endWhenWritten() {
    ending_ = true;
    if (client_->queuedBytes() == 0) end();
  }

  void closeAfterResponse() {
    state_ = State::kClosing;
    upstream_.reset();
    deadline_ = now() + kDrainSeconds;
    client_->shutdown();
    if (clientEnded_) {
      endWhenWritten();
      return;
    }
    client_->resumeReading();
  }

  // -- Upstream.

  void forward(Step step) {
    current_ = std::move(step.request);
    method_ = std::move(step.method);
    upgradeAsked_ = step.upgrade;
    closeAfter_ = closeAfter_ || !step.keepAlive;
    requestDone_ = responseDone_ = responseStarted_ = finalHead_ = false;
    ++requests_;
    const std::string key = current_.host + ' ' + std::to_string(current_.port);
    if (!current_.isConnect && upstream_ && upstreamKey_ == key && !upstreamEnded_) {
      beginExchange(std::move(step.bytes));
      return;
    }
    upstream_.reset();
    responses_.reset();
    upstreamEnded_ = false;
    upstreamKey_ = key;
    pendingHead_ = std::move(step.bytes);
    state_ = State::kConnecting;
    deadline_ = now() + options().connectTimeoutSeconds;
    if (current_.hostIsAddress) {
      Result<SocketAddress> address = SocketAddress::parse(current_.host, current_.port);
      if (!address.ok()) {
        answer(HttpResponse::plain(400, address.status().message()));
        return;
      }
      connect({*address});
      return;
    }
    step_ = server_.resolver_.resolve(
        current_.host, current_.port,
        [this](Result<std::vector<SocketAddress>> addresses) { onResolved(std::move(addresses)); });
  }

  void onResolved(Result<std::vector<SocketAddress>> addresses) {
    if (!addresses.ok()) {
      answer(HttpResponse::plain(502, addresses.status().message()));
      return;
    }
    connect(std::move(*addresses));
  }

  void connect(std::vector<SocketAddress> addresses) {
    const int ownPort = server_.port();
    if (std::any_of(addresses.begin(), addresses.end(), [&](const SocketAddress& address) {
          return address.port() == ownPort && address.isThisMachine();
        })) {
      answer(HttpResponse::plain(403, "loop"));
      return;
    }
    step_ = server_.network_.connect(
        std::move(addresses),
        [this](Result<std::unique_ptr<TcpStream>> upstream) { onConnected(std::move(upstream)); });
  }

  void onConnected(Result<std::unique_ptr<TcpStream>> upstream) {
    step_.reset();
    if (!upstream.ok()) {
      answer(HttpResponse::plain(502, upstream.status().message() + " (" + current_.host + ":" +
                                          std::to_string(current_.port) + ")"));
      return;
    }
    upstream_ = std::move(*upstream);
    upstream_->startReading([this](std::string_view bytes) { onUpstreamData(bytes); },
                            [this](Status end) { onUpstreamEnd(end); });
    if (current_.isConnect) {
      if (Status queued = client_->write("HTTP/1.1 200 Connection Established\r\n\r\n");
          !queued.ok()) {
        log::debug("Proxy: can't open a tunnel: {}", queued.message());
        end();
        return;
      }
      startTunnel();
      return;
    }
    beginExchange(std::exchange(pendingHead_, {}));
  }

  void beginExchange(std::string head) {
    state_ = State::kExchange;
    deadline_ = now() + options().idleTimeoutSeconds;
    if (!responses_) responses_ = std::make_unique<HttpResponseReader>();
    responses_->expect(method_);
    send(*upstream_, head);
    pump();
  }

  void startTunnel() {
    state_ = State::kTunnel;
    deadline_ = now() + options().idleTimeoutSeconds;
    responses_.reset();
    std::string rest = handler_.takeRest();
    if (!rest.empty()) send(*upstream_, rest);
    if (clientEnded_) upstream_->shutdown();
    updateReading();
  }

  void onUpstreamData(std::string_view bytes) {
    if (state_ == State::kTunnel) {
      deadline_ = now() + options().idleTimeoutSeconds;
      send(*client_, bytes);
      return;
    }
    if (state_ != State::kExchange || responseDone_) {
      // Nothing was asked: an origin that talks out of turn can't be trusted with the next one.
      upstream_.reset();
      return;
    }
    deadline_ = now() + options().idleTimeoutSeconds;
    // What one read gives the client goes out in one write: a head and the first bytes of its
    // body reach the client together, not one after the other.
    std::string heads;
    std::vector<std::string_view> pieces;
    auto flush = [&] {
      if (!heads.empty()) pieces.insert(pieces.begin(), heads);
      if (!pieces.empty()) send(*client_, pieces);
      heads.clear();
      pieces.clear();
    };
    while (!bytes.empty() && !responseDone_) {
      Result<HttpResponseReader::Fed> fed = responses_->feed(bytes);
      if (!fed.ok()) {
        flush();
        failExchange(fed.status().message());
        return;
      }
      if (fed->head) {
        const HttpResponseHead& head = *fed->head;
        if (head.status == 101) {
          if (!upgradeAsked_) {
            flush();
            failExchange("a protocol switch nobody asked for");
            return;
          }
          heads += head.forClient(false);
          pieces.push_back(bytes.substr(fed->consumed));
          flush();
          startTunnel();
          return;
        }
        finalHead_ = head.status >= 200;
        if (finalHead_) {
          responseStarted_ = true;
          // A switch that didn't happen leaves the connection in doubt: it closes after.
          closeAfter_ = closeAfter_ || !head.keepAlive || upgradeAsked_ || !requestDone_;
        }
        if (!pieces.empty()) flush();  // a head after body bytes: never, but in order all the same
        heads += head.forClient(finalHead_ && closeAfter_);
      }
      if (!fed->body.empty()) pieces.push_back(fed->body);
      bytes.remove_prefix(fed->consumed);
      if (fed->complete && finalHead_) responseDone_ = true;
      if (fed->consumed == 0 && !fed->head && !fed->complete) break;
    }
    flush();
    if (!responseDone_) return;
    if (!bytes.empty()) upstreamKey_.clear();  // more than was asked for: not reused
    if (requestDone_ || closeAfter_) finishExchange();
  }

  void onUpstreamEnd(const Status& status) {
    upstreamEnded_ = true;
    if (state_ == State::kTunnel) {
      if (!status.ok()) {
        end();
        return;
      }
      client_->shutdown();
      if (clientEnded_) endWhenWritten();
      return;
    }
    if (state_ != State::kExchange) {
      upstream_.reset();  // a kept connection the origin closed
      return;
    }
    if (status.ok() && !responseDone_) {
      Result<HttpResponseReader::Fed> fed = responses_->finish();
      if (fed.ok() && fed->complete && finalHead_) {
        responseDone_ = true;
        closeAfter_ = true;
        finishExchange();
        return;
      }
    }
    if (responseDone_) {
      upstream_.reset();
      return;
    }
    failExchange(status.ok() ? "the origin closed without a whole answer" : status.message());
  }

  // The exchange can't go on: a 502 when the client has seen nothing of the response yet,
  // else the connection ends (the client sees the response cut short).
  void failExchange(const std::string& reason) {
    log::debug("Proxy: {} ({}:{})", reason, current_.host, current_.port);
    if (!responseStarted_) {
      answer(HttpResponse::plain(502, reason + " (" + current_.host + ")"));
      return;
    }
    end();
  }

  void finishExchange() {
    if (closeAfter_) {
      closeAfterResponse();
      return;
    }
    if (upstreamKey_.empty()) {
      upstream_.reset();
      responses_.reset();
    }
    state_ = State::kHead;
    waitingSince_ = now();
    deadline_ = waitingSince_ + options().headTimeoutSeconds;
    pump();
  }

  // -- Writing, with the reading of the other side paused above the high mark.

  void send(TcpStream& to, std::string_view bytes) {
    send(to, std::span<const std::string_view>(&bytes, 1));
  }
  void send(TcpStream& to, std::span<const std::string_view> pieces) {
    const bool toClient = &to == client_.get();
    // Most chunks go straight to the socket; only what it can't take now is copied and waits.
    const Result<size_t> queued = to.writeNow(pieces, [this, toClient](const Status& written) {
      if (toClient) {
        onClientWritten(written);
      } else {
        onUpstreamWritten(written);
      }
    });
    if (!queued.ok()) {
      // Nothing more can go that way. The caller still holds the streams, so the connection
      // ends at the next sweep, not here.
      log::debug("Proxy: {} ({})", queued.status().message(), toClient ? "client" : "upstream");
      brokenWrite_ = true;
      deadline_ = now();
      return;
    }
    if (*queued > 0 && to.queuedBytes() > options().highWaterBytes) {
      (toClient ? upstreamHeld_ : clientHeld_) = true;
      updateReading();
    }
  }

  void onClientWritten(const Status& written) {
    if (!written.ok()) {
      end();
      return;
    }
    if (ending_ && client_->queuedBytes() == 0) {
      end();
      return;
    }
    if (upstreamHeld_ && client_->queuedBytes() <= options().highWaterBytes / 2) {
      upstreamHeld_ = false;
      updateReading();
    }
  }

  void onUpstreamWritten(const Status& written) {
    if (!written.ok()) {
      failExchange(written.message());
      return;
    }
    if (clientHeld_ && upstream_->queuedBytes() <= options().highWaterBytes / 2) {
      clientHeld_ = false;
      pump();
    }
  }

  void updateReading() {
    const bool clientReads =
        state_ == State::kClosing || (!clientHeld_ && handler_.buffered() < inboxLimit());
    if (clientReads) {
      client_->resumeReading();
    } else {
      client_->pauseReading();
    }
    if (!upstream_) return;
    if (upstreamHeld_) {
      upstream_->pauseReading();
    } else {
      upstream_->resumeReading();
    }
  }

  size_t inboxLimit() const { return options().limits.maxHeadBytes + options().highWaterBytes; }

  ProxyServer& server_;
  std::unique_ptr<TcpStream> client_;
  std::unique_ptr<TcpStream> upstream_;
  std::string upstreamKey_;  // host and port upstream_ is connected to; empty: not to reuse
  ProxyRequestHandler handler_;
  std::unique_ptr<HttpResponseReader> responses_;
  std::unique_ptr<Registration> step_;  // resolving or connecting
  std::string pendingHead_;             // while connecting
  ProxyRequest current_;                // the request decided last
  std::string method_;
  State state_ = State::kHead;
  double waitingSince_ = 0;
  double deadline_ = 0;
  size_t drained_ = 0;
  size_t requests_ = 0;
  bool upgradeAsked_ = false;
  bool requestDone_ = false;
  bool responseDone_ = false;
  bool responseStarted_ = false;
  bool finalHead_ = false;
  bool closeAfter_ = false;
  bool clientEnded_ = false;
  bool upstreamEnded_ = false;
  bool clientHeld_ = false;    // the upstream has too much waiting: the client isn't read
  bool upstreamHeld_ = false;  // the client has too much waiting: the upstream isn't read
  bool ending_ = false;
  bool brokenWrite_ = false;  // a stream refused a write: the connection ends at the next sweep
};

ProxyServer::ProxyServer(RunLoop& loop, const Clock& clock, Network& network,
                         HostResolver& resolver, Decider decider, Options options)
    : loop_(loop),
      clock_(clock),
      network_(network),
      resolver_(resolver),
      decider_(std::move(decider)),
      options_(options),
      connections_(loop, options.maxConnections) {}

ProxyServer::~ProxyServer() { stop(); }

double ProxyServer::now() const { return clock_.monotonicSeconds(); }

Status ProxyServer::start(int port) {
  stop();
  wantedPort_ = port;
  Status listened = listen();
  if (!listened.ok()) retryTimer_ = loop_.addTimer(kRetrySeconds, 0, [this] { retry(); });
  return listened;
}

Status ProxyServer::listen() {
  auto listener =
      network_.listen("127.0.0.1", wantedPort_,
                      [this](std::unique_ptr<TcpStream> client) { accept(std::move(client)); });
  if (!listener.ok()) {
    if (!ownerLogged_ && wantedPort_ != 0) {
      ownerLogged_ = true;
      log::warning("The proxy's port {} is held by {}; trying again every second", wantedPort_,
                   PortOwner::describe(wantedPort_));
    }
    return listener.status();
  }
  ownerLogged_ = false;
  listener_ = std::move(*listener);
  listener_->onExhausted([this](const Status& reason) {
    outOfDescriptors_ = true;
    logOverload(fmt::format("{} ({} connections open); new connections wait until some close",
                            reason.message(), connections_.size()));
    followSweeper();
  });
  log::info("Filtering proxy listening on 127.0.0.1:{}", listener_->port());
  return Status::success();
}

void ProxyServer::followSweeper() {
  // Nothing to time out and nothing to resume: no timer, so an idle proxy sleeps.
  if (!listener_ || (connections_.empty() && !outOfDescriptors_)) {
    sweeper_.reset();
    return;
  }
  if (sweeper_) return;
  const double shortest = std::min({options_.headTimeoutSeconds, options_.connectTimeoutSeconds,
                                    options_.idleTimeoutSeconds, options_.slowHeadSeconds});
  const double interval = std::clamp(shortest / 4, 0.01, 1.0);
  sweeper_ = loop_.addTimer(interval, interval, [this] { sweep(); });
}

void ProxyServer::retry() {
  if (Status listened = listen(); !listened.ok()) {
    log::debug("The proxy still can't listen: {}", listened.message());
    retryTimer_ = loop_.addTimer(kRetrySeconds, 0, [this] { retry(); });
  }
}

int ProxyServer::port() const { return listener_ ? listener_->port() : 0; }

void ProxyServer::stop() {
  retryTimer_.reset();
  ownerLogged_ = false;
  sweeper_.reset();
  listener_.reset();
  connections_.clear();
}

void ProxyServer::accept(std::unique_ptr<TcpStream> client) {
  outOfDescriptors_ = false;
  connections_.add(std::make_unique<Connection>(*this, std::move(client))).start();
  followCapacity();
}

void ProxyServer::remove(Connection* connection) {
  connections_.remove(connection);
  // A descriptor was freed: accepting is tried again (the listener pauses itself again when
  // there is still none).
  if (outOfDescriptors_ && listener_) listener_->resume();
  followCapacity();
}

void ProxyServer::followCapacity() {
  followSweeper();
  if (!listener_) return;
  if (connections_.size() * 2 >= connections_.limit()) closeSlowHeads(now());
  if (connections_.followCapacity({listener_.get()}, !outOfDescriptors_)) {
    logOverload(
        fmt::format("at its limit of {} connections; new ones wait until some close, "
                    "and heads that don't come whole make room",
                    connections_.limit()));
  }
}

bool ProxyServer::isFull() const { return connections_.full(); }

void ProxyServer::shed(Connection* connection) { remove(connection); }

void ProxyServer::logOverload(const std::string& what) {
  // Once an episode: an overload lasts, and every connection in it would say the same.
  const double at = now();
  if (at - overloadLoggedAt_ < kOverloadLogSeconds) return;
  overloadLoggedAt_ = at;
  log::warning("Proxy overloaded: {}", what);
}

void ProxyServer::closeSlowHeads(double now) {
  std::vector<Connection*> slow = connections_.select([&](const Connection& connection) {
    return connection.waitingForHead(now, options_.slowHeadSeconds);
  });
  if (slow.empty()) return;
  logOverload(fmt::format(
      "{} of {} connections; closing {} still without a whole request after "
      "{} s",
      connections_.size(), options_.maxConnections, slow.size(), options_.slowHeadSeconds));
  for (Connection* connection : slow) connections_.remove(connection);
  followSweeper();
}

void ProxyServer::sweep() {
  const double at = now();
  std::vector<Connection*> expired =
      connections_.select([&](const Connection& connection) { return connection.expired(at); });
  for (Connection* connection : expired) {
    // An earlier one's timeout may have ended it already (it never ends others, but be sure).
    if (connections_.contains(connection)) connection->onTimeout();
  }
  if (outOfDescriptors_ && listener_) listener_->resume();
  followCapacity();
  followSweeper();
}

void ProxyServer::redecide() {
  std::vector<Connection*> refused =
      connections_.select([](const Connection& connection) { return connection.refusedNow(); });
  for (Connection* connection : refused) {
    log::info("Proxy: closing an open connection to {}, blocked now", connection->current().url);
    connections_.remove(connection);
  }
  followCapacity();
}

}  // namespace zelto
