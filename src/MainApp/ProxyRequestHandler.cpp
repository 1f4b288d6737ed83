#include "MainApp/ProxyRequestHandler.h"

#include <algorithm>
#include <array>
#include <vector>

#include "MainApp/HttpResponse.h"
#include "Platform/SocketAddress.h"
#include "Platform/Text.h"

namespace zelto {

namespace {

// Fields that concern one connection only, never forwarded; "Host" is written from the URL.
constexpr std::array<std::string_view, 8> kDropped = {"Connection",
                                                      "Proxy-Connection",
                                                      "Proxy-Authorization",
                                                      "Keep-Alive",
                                                      "TE",
                                                      "Trailer",
                                                      "Upgrade",
                                                      "Host"};

// Compacted once this much has been handed out, so that the buffer doesn't grow with a long
// kept-alive connection.
constexpr size_t kCompactAt = 64 * 1024;

}  // namespace

ProxyRequestHandler::ProxyRequestHandler(Decider decider, int proxyPort,
                                         HttpRequestParser::Limits limits)
    : decider_(std::move(decider)), proxyPort_(proxyPort), parser_(limits) {}

ProxyRequestHandler::~ProxyRequestHandler() = default;

bool ProxyRequestHandler::isLoopTarget(std::string_view host, int port, int proxyPort) {
  if (port != proxyPort) return false;
  if (Text::equalsIgnoringAsciiCase(host, "localhost") ||
      Text::equalsIgnoringAsciiCase(host, "localhost.")) {
    return true;
  }
  std::string_view bare = host;
  if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']') {
    bare = bare.substr(1, bare.size() - 2);
  }
  Result<SocketAddress> address = SocketAddress::parse(std::string(bare), port);
  return address.ok() && (address->isLoopback() || address->isUnspecified());
}

std::string ProxyRequestHandler::rewriteHead(const HttpRequestHead& head,
                                             const NormalizedURL& url) {
  const bool upgrade = head.upgrade && !head.isConnect;
  // The fields the Connection field names are hop-by-hop too; a protocol switch keeps what it
  // switches to.
  std::vector<std::string_view> dropped(kDropped.begin(), kDropped.end());
  for (std::string_view token : HttpResponse::connectionTokens(head.headers))
    dropped.push_back(token);
  if (upgrade) {
    std::erase_if(dropped, [](std::string_view name) {
      return Text::equalsIgnoringAsciiCase(name, "Upgrade");
    });
  }
  std::string text = head.method + ' ' + url.requestTarget() + " HTTP/" +
                     std::to_string(head.versionMajor) + '.' + std::to_string(head.versionMinor) +
                     "\r\nHost: " + url.authority() + "\r\n";
  HttpResponse::appendFields(text, head.headers, dropped);
  if (upgrade) {
    text += "Connection: Upgrade\r\n";
  } else if (!head.keepAlive) {
    text += "Connection: close\r\n";
  } else if (head.versionMinor == 0) {
    text += "Connection: keep-alive\r\n";
  }
  text += "\r\n";
  return text;
}

void ProxyRequestHandler::receive(std::string_view bytes) {
  if (state_ == State::kFinished) return;
  if (offset_ >= kCompactAt && offset_ * 2 >= buffer_.size()) {
    buffer_.erase(0, offset_);
    offset_ = 0;
  }
  buffer_.append(bytes);
}

std::string_view ProxyRequestHandler::pending() const {
  return std::string_view(buffer_).substr(offset_);
}

void ProxyRequestHandler::consume(size_t count) {
  offset_ += count;
  if (offset_ == buffer_.size()) {
    buffer_.clear();
    offset_ = 0;
  }
}

std::string ProxyRequestHandler::takeRest() {
  std::string rest(pending());
  buffer_.clear();
  buffer_.shrink_to_fit();
  offset_ = 0;
  state_ = State::kFinished;
  return rest;
}

ProxyRequestHandler::Step ProxyRequestHandler::answer(int status, std::string_view reason) {
  state_ = State::kFinished;
  buffer_.clear();
  offset_ = 0;
  Step step;
  step.kind = Step::Kind::kAnswer;
  step.bytes = HttpResponse::plain(status, reason);
  return step;
}

ProxyRequestHandler::Step ProxyRequestHandler::next() {
  switch (state_) {
    case State::kFinished:
    case State::kTunnel:
      return {};
    case State::kBody: {
      Result<size_t> taken = body_->take(pending());
      if (!taken.ok()) return answer(400, taken.status().message());
      if (*taken == 0 && !body_->done()) return {};
      Step step;
      if (*taken > 0) {
        step.kind = Step::Kind::kBody;
        step.bytes = pending().substr(0, *taken);
        consume(*taken);
        return step;
      }
      body_.reset();
      state_ = State::kHead;
      step.kind = Step::Kind::kBodyEnd;
      return step;
    }
    case State::kHead:
      break;
  }
  const std::string_view bytes = pending();
  if (bytes.empty()) return {};
  Result<HttpRequestParser::Fed> fed = parser_.feed(bytes);
  if (!fed.ok()) return answer(parser_.errorStatus(), fed.status().message());
  if (!fed->head) {
    consume(bytes.size());
    return {};
  }
  consume(bytes.size() - fed->rest.size());
  return decide(*fed->head);
}

ProxyRequestHandler::Step ProxyRequestHandler::decide(const HttpRequestHead& head) {
  std::optional<NormalizedURL> url;
  if (head.isConnect) {
    Result<NormalizedURL> parsed = NormalizedURL::parseAuthority(head.target);
    if (!parsed.ok()) return answer(400, parsed.status().message());
    // Plain HTTP inside a tunnel would never be seen: it has to come as requests.
    if (parsed->port() == 80)
      return answer(403, "CONNECT to port 80 is refused: send the requests");
    url = std::move(*parsed);
  } else if (!head.target.empty() && head.target.front() == '/') {
    // Origin form: the Host field names the server.
    std::optional<std::string_view> host = head.header("Host");
    if (!host || host->empty()) return answer(400, "a request without its host");
    Result<NormalizedURL> parsed =
        NormalizedURL::parse("http://" + std::string(*host) + head.target);
    if (!parsed.ok()) return answer(400, parsed.status().message());
    url = std::move(*parsed);
  } else {
    Result<NormalizedURL> parsed = NormalizedURL::parse(head.target);
    if (!parsed.ok()) return answer(400, parsed.status().message());
    if (parsed->scheme() != "http") return answer(400, "only http:// URLs are proxied");
    url = std::move(*parsed);
  }
  if (isLoopTarget(url->host(), url->port(), proxyPort_)) return answer(403, "loop");

  ProxyRequest request{head.isConnect, url->decisionURL(), url->host(), url->port(),
                       url->isIpLiteral()};
  const ProxyVerdict verdict = decider_(request);
  if (verdict.kind == ProxyVerdict::Kind::kPass) return forward(head, *url, request);
  // A browser sends many requests on one connection: one refused doesn't end it, unless the
  // request is followed by a body (not read here) or the client asked for the end.
  const bool keepOpen = !head.isConnect && !head.upgrade && head.keepAlive &&
                        head.body == HttpRequestHead::Body::kNone && head.versionMajor == 1 &&
                        head.versionMinor >= 1;
  const int status = verdict.kind == ProxyVerdict::Kind::kRedirect ? 302 : 403;
  const std::string body = status == 302            ? "Blocked.\n"
                           : verdict.reason.empty() ? "blocked\n"
                                                    : HttpResponse::oneLine(verdict.reason) + "\n";
  const HttpResponse::Fields fields =
      status == 302 ? HttpResponse::Fields{{"Location", verdict.location}} : HttpResponse::Fields{};
  if (!keepOpen) {
    Step step = answer(status, "");
    step.bytes = HttpResponse::format(status, "text/plain; charset=utf-8", body, fields);
    return step;
  }
  Step step;
  step.kind = Step::Kind::kAnswer;
  step.keepsOpen = true;
  step.bytes = HttpResponse::formatKeepingOpen(status, "text/plain; charset=utf-8", body, fields);
  return step;
}

ProxyRequestHandler::Step ProxyRequestHandler::forward(const HttpRequestHead& head,
                                                       const NormalizedURL& url,
                                                       const ProxyRequest& request) {
  Step step;
  step.kind = Step::Kind::kForward;
  step.request = request;
  step.method = head.method;
  step.upgrade = head.isConnect || head.upgrade;
  step.keepAlive = head.keepAlive;
  if (head.isConnect) {
    state_ = State::kTunnel;
    return step;
  }
  step.bytes = rewriteHead(head, url);
  body_.emplace(head);
  state_ = State::kBody;
  return step;
}

}  // namespace zelto
