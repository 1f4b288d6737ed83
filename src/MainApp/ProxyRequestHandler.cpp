#include "MainApp/ProxyRequestHandler.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

#include "MainApp/HttpResponse.h"
#include "Platform/Linux/SocketAddress.h"

namespace zelto {

namespace {

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Fields that concern one connection only, never forwarded.
constexpr std::array<std::string_view, 7> kHopByHop = {
    "Connection", "Proxy-Connection", "Proxy-Authorization", "Keep-Alive", "TE",
    "Trailer",    "Upgrade"};

constexpr std::string_view kHttpScheme = "http://";

std::string bracketed(std::string_view host) {
  return host.find(':') != std::string_view::npos ? "[" + std::string(host) + "]"
                                                  : std::string(host);
}

ProxyRequestHandler::Step answerStep(std::string bytes) {
  ProxyRequestHandler::Step step;
  step.kind = ProxyRequestHandler::Step::Kind::kAnswer;
  step.bytes = std::move(bytes);
  return step;
}

}  // namespace

ProxyRequestHandler::ProxyRequestHandler(Decider decider, int proxyPort,
                                         HttpRequestParser::Limits limits)
    : decider_(std::move(decider)), proxyPort_(proxyPort), parser_(limits) {}

bool ProxyRequestHandler::isLoopTarget(std::string_view host, int port, int proxyPort) {
  if (port != proxyPort) return false;
  if (HttpRequestParser::equalsIgnoringCase(host, "localhost") ||
      HttpRequestParser::equalsIgnoringCase(host, "localhost."))
    return true;
  std::string_view bare = host;
  if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']') {
    bare = bare.substr(1, bare.size() - 2);
  }
  Result<SocketAddress> address = SocketAddress::parse(std::string(bare), port);
  return address.ok() && (address->isLoopback() || address->isUnspecified());
}

std::string ProxyRequestHandler::rewriteHead(const HttpRequestHead& head) {
  const std::string_view target = head.target;
  if (target.size() < kHttpScheme.size() ||
      !HttpRequestParser::equalsIgnoringCase(target.substr(0, kHttpScheme.size()), kHttpScheme)) {
    return {};
  }
  const size_t pathStart = target.find_first_of("/?#", kHttpScheme.size());
  std::string_view path = pathStart == std::string_view::npos ? "" : target.substr(pathStart);
  path = path.substr(0, path.find('#'));
  std::string origin(path);
  if (origin.empty() || origin.front() != '/') origin.insert(0, "/");

  // The fields the Connection field names are hop-by-hop too.
  std::vector<std::string_view> dropped(kHopByHop.begin(), kHopByHop.end());
  for (const auto& [name, value] : head.headers) {
    if (!HttpRequestParser::equalsIgnoringCase(name, "Connection")) continue;
    std::string_view rest = value;
    while (!rest.empty()) {
      const size_t comma = rest.find(',');
      std::string_view token = trim(rest.substr(0, comma));
      if (!token.empty()) dropped.push_back(token);
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
  }

  std::string text = head.method + ' ' + origin + " HTTP/" + std::to_string(head.versionMajor) +
                     '.' + std::to_string(head.versionMinor) + "\r\n";
  bool hasHost = false;
  for (const auto& field : head.headers) {
    const std::string& name = field.first;
    if (std::any_of(dropped.begin(), dropped.end(), [&](std::string_view hop) {
          return HttpRequestParser::equalsIgnoringCase(name, hop);
        })) {
      continue;
    }
    hasHost = hasHost || HttpRequestParser::equalsIgnoringCase(name, "Host");
    text += name + ": " + HttpResponse::oneLine(field.second) + "\r\n";
  }
  if (!hasHost) {
    text += "Host: " + bracketed(head.host);
    if (head.port != 80) text += ':' + std::to_string(head.port);
    text += "\r\n";
  }
  text += "Connection: close\r\n\r\n";
  return text;
}

ProxyRequestHandler::Step ProxyRequestHandler::feed(std::string_view bytes) {
  if (decided_) return {};
  Result<HttpRequestParser::Fed> fed = parser_.feed(bytes);
  if (!fed.ok()) {
    decided_ = true;
    return answerStep(HttpResponse::plain(parser_.errorStatus(), fed.status().message()));
  }
  if (!fed->head) return {};
  decided_ = true;
  return decide(*fed->head, fed->rest);
}

ProxyRequestHandler::Step ProxyRequestHandler::decide(const HttpRequestHead& head,
                                                      std::string_view rest) {
  auto answer = [](int status, std::string_view reason) {
    return answerStep(HttpResponse::plain(status, reason));
  };
  ProxyRequest request{head.isConnect, {}, head.host, head.port};
  std::string forwarded;
  if (head.isConnect) {
    if (head.host.empty() || head.port == 0) return answer(400, "malformed CONNECT target");
    request.url = "https://" + bracketed(head.host) +
                  (head.port == 443 ? std::string() : ':' + std::to_string(head.port)) + "/";
    forwarded = rest;
  } else {
    if (head.host.empty()) return answer(400, "not a proxy request: the target is not a URL");
    if (head.port == 0) return answer(400, "malformed request target");
    forwarded = rewriteHead(head);
    if (forwarded.empty()) return answer(400, "only http:// URLs are proxied");
    request.url = head.target;
    forwarded += rest;
  }
  if (isLoopTarget(head.host, head.port, proxyPort_)) return answer(403, "loop");

  const ProxyVerdict verdict = decider_(request);
  switch (verdict.kind) {
    case ProxyVerdict::Kind::kRedirect:
      return answerStep(HttpResponse::format(302, "text/plain; charset=utf-8", "Blocked.\n",
                                             {{"Location", verdict.location}}));
    case ProxyVerdict::Kind::kRefuse:
      return answer(403, verdict.reason.empty() ? "blocked" : verdict.reason);
    case ProxyVerdict::Kind::kPass:
      break;
  }
  Step step;
  step.kind = Step::Kind::kForward;
  step.bytes = std::move(forwarded);
  step.isConnect = head.isConnect;
  step.host = head.host;
  step.port = head.port;
  return step;
}

}  // namespace zelto
