// Fuzz target: the proxy's handling of what a client sends before its request is decided. The
// first byte sets the size of the chunks (1 to 256) the rest arrives in, the second the
// decider's verdict (pass, redirect, refuse), whose location or reason is the rest's first
// bytes, control characters and all.
//
// Every answer must be a well-formed HTTP/1.1 answer that ends the connection, with a body of
// the length it announces; every forwarded head must be bounded, in origin form, free of
// hop-by-hop fields and of stray line breaks; fed in chunks or whole, the outcome is the same.
#include <string>
#include <vector>

#include "MainApp/ProxyRequestHandler.h"
#include "fuzz/FuzzInput.h"

namespace {

using zelto::ProxyRequestHandler;
using zelto::fuzz::require;

constexpr zelto::HttpRequestParser::Limits kLimits{
    .maxHeadBytes = 1024, .maxHeaders = 8, .maxTargetBytes = 128};
constexpr int kProxyPort = 8920;

// Lines end in CRLF and nowhere else.
bool wellBroken(std::string_view head) {
  for (size_t i = 0; i < head.size(); ++i) {
    if (head[i] == '\r' && (i + 1 >= head.size() || head[i + 1] != '\n')) return false;
    if (head[i] == '\n' && (i == 0 || head[i - 1] != '\r')) return false;
  }
  return true;
}

bool hasField(std::string_view head, std::string_view field) {
  std::string lower(head);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.find("\r\n" + std::string(field) + ":") != std::string::npos;
}

void checkAnswer(std::string_view answer) {
  const size_t end = answer.find("\r\n\r\n");
  require(end != std::string_view::npos, "an answer has a head");
  const std::string_view head = answer.substr(0, end + 4);
  const std::string_view body = answer.substr(end + 4);
  require(head.rfind("HTTP/1.1 ", 0) == 0 && head.size() > 13, "an answer's status line");
  const std::string_view status = head.substr(9, 3);
  require(status == "302" || status == "400" || status == "403" || status == "414" ||
              status == "431" || status == "505",
          "an answer's status");
  require(wellBroken(head), "an answer's lines end in CRLF only");
  require(head.find("\r\nConnection: close\r\n") != std::string_view::npos, "answers close");
  require(head.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n") !=
              std::string_view::npos,
          "an answer's length is its body's");
  require(body.find('\n') == body.size() - 1, "an answer's body is one line");
}

void checkForward(const ProxyRequestHandler::Step& step, std::string_view stream) {
  require(step.port > 0 && step.port <= 65535 && !step.host.empty(), "a forward's destination");
  if (step.isConnect) {
    require(stream.ends_with(step.bytes), "a tunnel starts with the client's own bytes");
    return;
  }
  const size_t end = step.bytes.find("\r\n\r\n");
  require(end != std::string::npos, "a forwarded request has a head");
  const std::string_view head = std::string_view(step.bytes).substr(0, end + 4);
  require(head.size() <= kLimits.maxHeadBytes + 300, "a forwarded head is bounded");
  require(wellBroken(head), "a forwarded head's lines end in CRLF only");
  require(head.find(" /") < head.find("\r\n"), "a forwarded request is in origin form");
  require(head.ends_with("\r\nConnection: close\r\n\r\n"), "a forwarded request closes");
  for (const char* hop :
       {"proxy-connection", "proxy-authorization", "keep-alive", "te", "trailer", "upgrade"}) {
    require(!hasField(head, hop), "hop-by-hop fields are dropped");
  }
  require(stream.ends_with(std::string_view(step.bytes).substr(end + 4)),
          "the body is the client's own bytes");
}

ProxyRequestHandler::Step run(std::string_view stream, size_t chunkSize,
                              const zelto::ProxyVerdict& verdict) {
  ProxyRequestHandler handler([&](const zelto::ProxyRequest&) { return verdict; }, kProxyPort,
                              kLimits);
  for (size_t offset = 0; offset < stream.size(); offset += chunkSize) {
    ProxyRequestHandler::Step step = handler.feed(stream.substr(offset, chunkSize));
    if (step.kind == ProxyRequestHandler::Step::Kind::kNeedMore) continue;
    if (step.kind == ProxyRequestHandler::Step::Kind::kAnswer) {
      checkAnswer(step.bytes);
    } else {
      // The bytes after this chunk are the client's too.
      const std::string_view seen = stream.substr(0, offset + chunkSize);
      checkForward(step, seen);
      step.bytes +=
          stream.substr(offset + chunkSize < stream.size() ? offset + chunkSize : stream.size());
    }
    return step;
  }
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelto;
  fuzz::quietLog();
  if (size < 2) return 0;
  const size_t chunkSize = 1 + data[0];
  const std::string_view stream = fuzz::bytesOf(data + 2, size - 2);
  ProxyVerdict verdict;
  verdict.kind = static_cast<ProxyVerdict::Kind>(data[1] % 3);
  verdict.location = verdict.reason = std::string(stream.substr(0, 40));

  const ProxyRequestHandler::Step chunked = run(stream, chunkSize, verdict);
  const ProxyRequestHandler::Step whole = run(stream, stream.size() + 1, verdict);
  require(chunked.kind == whole.kind, "the same outcome, chunked or whole");
  if (whole.kind == ProxyRequestHandler::Step::Kind::kForward) {
    require(
        chunked.bytes == whole.bytes && chunked.host == whole.host && chunked.port == whole.port,
        "the same request forwarded, chunked or whole");
  }
  return 0;
}
