// ProxyRequestHandler: what the filtering proxy does with the bytes a client sends, without any
// socket. It reads each request head, parses and normalises its URL once (NormalizedURL), asks
// the decider, and hands out in order: the decided request with its rewritten head (or the
// answer that ends the connection), then exactly the body its head frames, then the next
// request. Nothing is handed out to forward that was not decided: bytes after a body are read
// as the next head, never passed on.
//
// HTTP/1.1 keeps client connections open: the caller takes the next request only once the
// response to the previous one is complete, so pipelined requests wait here, in order. After a
// CONNECT or a protocol switch is forwarded, what follows is the tunnel's (takeRest), not a
// request.
//
// Owns its parser and what was received and not yet handed out; one client connection, the
// loop's thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "App/Blocking/Helpers/NormalizedURL.h"
#include "MainApp/HttpBodyFramer.h"
#include "MainApp/HttpRequestParser.h"
#include "MainApp/ProxyRequest.h"
#include "MainApp/ProxyVerdict.h"

namespace zelto {

class ProxyRequestHandler {
 public:
  using Decider = std::function<ProxyVerdict(const ProxyRequest&)>;

  struct Step {
    enum class Kind {
      kNeedMore,  // nothing to hand out until more bytes arrive
      kAnswer,    // write `bytes` to the client, then close (or go on, see keepsOpen)
      kForward,   // a request passed: connect to request.host:port, send `bytes` (its head)
      kBody,      // `bytes` of the current request's body, as sent
      kBodyEnd,   // the current request's body is complete
    };
    Kind kind = Kind::kNeedMore;
    // kAnswer: the whole answer. kForward: the rewritten head (empty for CONNECT). kBody: bytes.
    std::string bytes;
    ProxyRequest request;   // kForward: what was decided
    std::string method;     // kForward
    bool upgrade = false;   // kForward: a CONNECT or a protocol switch (a tunnel may follow)
    bool keepAlive = true;  // kForward: the client keeps the connection after the response
    // kAnswer: a refusal of a whole request without a body, from a client that keeps the
    // connection: the next request on it is read and decided as any other.
    bool keepsOpen = false;
  };

  // `proxyPort` is the proxy's own port: requests back to it are refused as a loop.
  ProxyRequestHandler(Decider decider, int proxyPort, HttpRequestParser::Limits limits = {});
  ~ProxyRequestHandler();

  // Takes bytes the client sent; they are handed out by `next`.
  void receive(std::string_view bytes);
  // The next step, in the order the client sent them.
  Step next();
  // Bytes received and not yet handed out.
  size_t buffered() const { return buffer_.size() - offset_; }
  // After a forwarded CONNECT or protocol switch: the bytes received after its head, and from
  // then on the handler takes nothing more.
  std::string takeRest();
  // Part of a request head has arrived and not yet the rest of it.
  bool inHead() const { return state_ == State::kHead && parser_.inHead(); }
  // After an answer, or after takeRest: later bytes are not requests.
  bool isFinished() const { return state_ == State::kFinished; }

  // Whether `host` (a name or numeric address, IPv6 without brackets) at `port` names the
  // proxy itself, as far as can be told without resolving it.
  static bool isLoopTarget(std::string_view host, int port, int proxyPort);
  // The head to send upstream for `head`, whose URL is `url`: origin form, "Host" from the URL
  // (whatever the client sent), hop-by-hop fields dropped (a protocol switch keeps "Upgrade"
  // and says "Connection: Upgrade"), "Connection: close" when the client doesn't keep alive.
  static std::string rewriteHead(const HttpRequestHead& head, const NormalizedURL& url);

 private:
  enum class State { kHead, kBody, kTunnel, kFinished };

  Step decide(const HttpRequestHead& head);
  Step forward(const HttpRequestHead& head, const NormalizedURL& url, const ProxyRequest& request);
  Step answer(int status, std::string_view reason);
  std::string_view pending() const;
  void consume(size_t count);

  Decider decider_;
  int proxyPort_;
  HttpRequestParser parser_;
  std::optional<HttpBodyFramer> body_;
  std::string buffer_;
  size_t offset_ = 0;
  State state_ = State::kHead;
};

}  // namespace zelto
