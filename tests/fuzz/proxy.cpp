// Fuzz target: the proxy's handling of everything a client sends on one connection. The first
// byte sets the size of the chunks (1 to 256) the rest arrives in; the second picks, with each
// request's URL, the decider's verdict (pass, redirect, refuse), whose location or reason is the
// stream's first bytes, control characters and all. Responses are taken to come at once, so
// every request the stream holds is handed out in turn.
//
// Each request handed out to forward was decided (and passed) just before, on the URL that is
// forwarded: its Host field is the decided host, its head is in origin form, bounded, free of
// hop-by-hop fields and stray line breaks; its body is exactly what its head frames, so nothing
// after a body goes out undecided. Every answer is a well-formed HTTP/1.1 answer that ends the
// connection, but for a refusal of a request without a body, after which the next request is
// read and decided as any other. Fed in chunks or whole, the outcome is the same, but for which
// refusal a head with several faults gets: the parser reports a piece of a field or target at a
// chunk's end, so a limit may be seen before a malformed byte further on, or after it.
#include <http_parser.h>

#include <string>
#include <vector>

#include "MainApp/ProxyRequestHandler.h"
#include "fuzz/FuzzInput.h"

namespace {

using zelto::ProxyRequestHandler;
using zelto::fuzz::require;
using Kind = ProxyRequestHandler::Step::Kind;

constexpr zelto::HttpRequestParser::Limits kLimits{
    .maxHeadBytes = 1024, .maxHeaders = 8, .maxTargetBytes = 256};
constexpr int kProxyPort = 8920;

// Lines end in CRLF and nowhere else.
bool wellBroken(std::string_view head) {
  for (size_t i = 0; i < head.size(); ++i) {
    if (head[i] == '\r' && (i + 1 >= head.size() || head[i + 1] != '\n')) return false;
    if (head[i] == '\n' && (i == 0 || head[i - 1] != '\r')) return false;
  }
  return true;
}

void checkAnswer(std::string_view answer, bool keptOpen = false) {
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
  require((head.find("\r\nConnection: close\r\n") != std::string_view::npos) != keptOpen,
          "answers close, but for those that keep the connection");
  require(!keptOpen || status == "302" || status == "403", "only refusals keep the connection");
  require(head.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n") !=
              std::string_view::npos,
          "an answer's length is its body's");
  require(body.find('\n') == body.size() - 1, "an answer's body is one line");
}

// Whether `body` is exactly the body `head` frames: a message parser reading head and body
// ends right at the body's last byte, and not before.
bool framesExactly(const std::string& head, const std::string& body) {
  http_parser parser;
  http_parser_init(&parser, HTTP_REQUEST);
  bool complete = false;
  parser.data = &complete;
  http_parser_settings settings{};
  settings.on_message_complete = [](http_parser* p) {
    *static_cast<bool*>(p->data) = true;
    http_parser_pause(p, 1);
    return 0;
  };
  const std::string message = head + body;
  const size_t parsed = http_parser_execute(&parser, &settings, message.data(), message.size());
  return complete && parsed == message.size();
}

struct Outcome {
  std::vector<std::string> decided;    // each URL asked about, in order
  std::vector<std::string> refused;    // each answer that kept the connection
  std::vector<std::string> forwarded;  // each forwarded request: head and body
  std::string answer;
};

// Feeds `stream` in chunks, taking every step as soon as it comes.
Outcome run(std::string_view stream, size_t chunkSize, uint8_t selector, std::string_view text) {
  Outcome out;
  zelto::ProxyRequest lastDecided;
  bool lastPassed = false;
  ProxyRequestHandler handler(
      [&](const zelto::ProxyRequest& request) {
        out.decided.push_back(request.url);
        zelto::ProxyVerdict verdict;
        verdict.kind = static_cast<zelto::ProxyVerdict::Kind>(
            (selector + request.url.size() + out.decided.size()) % 3);
        verdict.location = verdict.reason = std::string(text);
        lastDecided = request;
        lastPassed = verdict.kind == zelto::ProxyVerdict::Kind::kPass;
        return verdict;
      },
      kProxyPort, kLimits);
  std::string head;
  std::string body;
  bool inBody = false;
  for (size_t offset = 0; offset < stream.size(); offset += chunkSize) {
    handler.receive(stream.substr(offset, chunkSize));
    for (ProxyRequestHandler::Step step = handler.next(); step.kind != Kind::kNeedMore;
         step = handler.next()) {
      switch (step.kind) {
        case Kind::kAnswer:
          checkAnswer(step.bytes, step.keepsOpen);
          if (step.keepsOpen) {
            require(!inBody && !handler.isFinished(), "a refusal between requests goes on");
            require(!lastPassed, "a refusal answers a request refused");
            out.refused.push_back(std::move(step.bytes));
            break;
          }
          require(handler.isFinished(), "an answer ends the connection");
          out.answer = step.bytes;
          return out;
        case Kind::kForward: {
          require(!inBody, "a request goes out only after the last one's body");
          require(lastPassed && lastDecided.url == step.request.url &&
                      lastDecided.host == step.request.host,
                  "what goes out is what was decided, and passed");
          require(step.request.port > 0 && step.request.port <= 65535 && !step.request.host.empty(),
                  "a forward's destination");
          if (step.request.isConnect) {
            require(step.bytes.empty() && step.upgrade, "a tunnel sends no head");
            handler.takeRest();
            out.forwarded.push_back("CONNECT " + step.request.url);
            return out;
          }
          const size_t end = step.bytes.find("\r\n\r\n");
          require(end == step.bytes.size() - 4, "a forwarded head is one head");
          require(step.bytes.size() <= kLimits.maxHeadBytes + 300, "a forwarded head is bounded");
          require(wellBroken(step.bytes), "a forwarded head's lines end in CRLF only");
          require(step.bytes.find(" /") < step.bytes.find("\r\n"), "origin form");
          const bool v6 = step.request.host.find(':') != std::string::npos;
          const std::string authority =
              (v6 ? "[" + step.request.host + "]" : step.request.host) +
              (step.request.port == 80 ? std::string() : ":" + std::to_string(step.request.port));
          std::string lower = step.bytes;
          for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
          require(lower.find("\r\nhost:") == lower.rfind("\r\nhost:"), "one Host field");
          require(step.bytes.find("\r\nHost: " + authority + "\r\n") != std::string::npos,
                  "the forwarded Host is the decided host");
          for (const char* hop :
               {"proxy-connection", "proxy-authorization", "keep-alive", "te", "trailer"}) {
            require(lower.find("\r\n" + std::string(hop) + ":") == std::string::npos,
                    "hop-by-hop fields are dropped");
          }
          head = std::move(step.bytes);
          body.clear();
          inBody = true;
          break;
        }
        case Kind::kBody:
          require(inBody, "body bytes belong to a forwarded request");
          body += step.bytes;
          break;
        case Kind::kBodyEnd:
          require(inBody, "a body's end belongs to a forwarded request");
          require(framesExactly(head, body), "the body is exactly what the head frames");
          out.forwarded.push_back(head + body);
          inBody = false;
          break;
        case Kind::kNeedMore:
          break;
      }
    }
  }
  if (inBody) out.forwarded.push_back(head + body + "...");
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelto;
  fuzz::quietLog();
  if (size < 2) return 0;
  const size_t chunkSize = 1 + data[0];
  const std::string_view stream = fuzz::bytesOf(data + 2, size - 2);
  const std::string_view text = stream.substr(0, 40);
  const Outcome chunked = run(stream, chunkSize, data[1], text);
  const Outcome whole = run(stream, stream.size() + 1, data[1], text);
  require(chunked.decided == whole.decided, "the same requests decided, chunked or whole");
  auto decision = [](const std::string& answer) {
    return answer.rfind("HTTP/1.1 302 ", 0) == 0 || answer.rfind("HTTP/1.1 403 ", 0) == 0;
  };
  require(chunked.refused == whole.refused, "the same refusals, chunked or whole");
  require(chunked.answer.empty() == whole.answer.empty(), "answered, chunked or whole");
  if (decision(chunked.answer) || decision(whole.answer)) {
    require(chunked.answer == whole.answer, "the same decision, chunked or whole");
  }
  // A body still arriving is cut where the chunks ended; whole requests are the same.
  require(chunked.forwarded.size() == whole.forwarded.size(), "as many requests forwarded");
  for (size_t i = 0; i + 1 < whole.forwarded.size(); ++i) {
    require(chunked.forwarded[i] == whole.forwarded[i], "the same requests forwarded");
  }
  return 0;
}
