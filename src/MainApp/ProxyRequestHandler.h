// ProxyRequestHandler: what the filtering proxy does with the bytes a client sends before its
// request is decided, without any socket: it reads the request head, asks the decider, and says
// either to wait for more bytes, to answer and close, or to forward the request upstream.
//
// One request per client connection: a request forwarded upstream carries "Connection: close",
// and from then on the connection is a byte pipe until either side closes. Handling a second
// request on the same connection would mean parsing the responses to know where each ends; one
// request per connection keeps the proxy simple and correct, at the cost of a new upstream
// connection per request (browsers open several to a proxy anyway).
//
// Owns its parser; one client connection, the loop's thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "MainApp/HttpRequestParser.h"
#include "MainApp/ProxyRequest.h"
#include "MainApp/ProxyVerdict.h"

namespace zelto {

class ProxyRequestHandler {
 public:
  using Decider = std::function<ProxyVerdict(const ProxyRequest&)>;

  struct Step {
    enum class Kind {
      kNeedMore,  // every byte was taken in; feed the next ones
      kAnswer,    // write `bytes` to the client, then close
      kForward,   // connect to host:port, then send `bytes` upstream
    };
    Kind kind = Kind::kNeedMore;
    // kAnswer: the whole answer. kForward: plain HTTP, the rewritten head and the bytes that
    // followed it; CONNECT, the bytes that followed the head (the tunnel's first).
    std::string bytes;
    bool isConnect = false;  // kForward: answer "200 Connection Established" once connected
    std::string host;
    int port = 0;
  };

  // `proxyPort` is the proxy's own port: requests back to it are refused as a loop.
  ProxyRequestHandler(Decider decider, int proxyPort, HttpRequestParser::Limits limits = {});

  // After kAnswer or kForward the request is decided: later bytes are not the handler's.
  Step feed(std::string_view bytes);

  // Whether `host` (a name or numeric address) at `port` names the proxy itself, as far as can
  // be told without resolving it.
  static bool isLoopTarget(std::string_view host, int port, int proxyPort);
  // The head of a plain HTTP request in origin form with the hop-by-hop fields dropped and
  // "Connection: close" added; empty when the target is not an absolute http:// URL.
  static std::string rewriteHead(const HttpRequestHead& head);

 private:
  Step decide(const HttpRequestHead& head, std::string_view rest);

  Decider decider_;
  int proxyPort_;
  HttpRequestParser parser_;
  bool decided_ = false;
};

}  // namespace zelto
