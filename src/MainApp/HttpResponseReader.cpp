#include "MainApp/HttpResponseReader.h"

#include <http_parser.h>

#include <algorithm>
#include <array>
#include <climits>

#include "MainApp/HttpRequestParser.h"
#include "MainApp/HttpResponse.h"

namespace zelto {

namespace {

constexpr std::array<std::string_view, 8> kHopByHop = {
    "Connection", "Proxy-Connection",   "Keep-Alive", "TE",
    "Trailer",    "Proxy-Authenticate", "Upgrade",    "Proxy-Authorization"};

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string HttpResponseHead::forClient(bool close) const {
  const bool switching = status == 101;
  std::vector<std::string_view> dropped;
  for (std::string_view hop : kHopByHop) {
    // A protocol switch keeps what it switches to.
    if (switching && (hop == "Connection" || hop == "Upgrade")) continue;
    dropped.push_back(hop);
  }
  if (!switching) {
    for (std::string_view token : HttpResponse::connectionTokens(headers)) dropped.push_back(token);
  }
  std::string text =
      "HTTP/1.1 " + std::to_string(status) + ' ' + HttpResponse::oneLine(reason) + "\r\n";
  HttpResponse::appendFields(text, headers, dropped);
  if (close && !switching) text += "Connection: close\r\n";
  text += "\r\n";
  return text;
}

struct HttpResponseReader::State {
  enum class Phase { kIdle, kHead, kBody };

  http_parser parser{};
  http_parser_settings settings{};
  Phase phase = Phase::kIdle;
  HttpResponseHead head;
  bool inValue = false;
  bool headDone = false;
  bool messageDone = false;
  bool skipBody = false;  // the request was HEAD
  std::optional<Status> failure;

  static State& of(http_parser* parser) { return *static_cast<State*>(parser->data); }

  Status fail(std::string reason) {
    if (!failure) failure = Status::failure(std::move(reason));
    return *failure;
  }

  State() {
    http_parser_init(&parser, HTTP_RESPONSE);
    parser.data = this;
    settings.on_message_begin = [](http_parser* p) {
      State& s = of(p);
      s.phase = Phase::kHead;
      s.head = HttpResponseHead();
      s.inValue = false;
      return 0;
    };
    settings.on_status = [](http_parser* p, const char* at, size_t length) {
      of(p).head.reason.append(at, length);
      return 0;
    };
    settings.on_header_field = [](http_parser* p, const char* at, size_t length) {
      State& s = of(p);
      auto& headers = s.head.headers;
      if (headers.empty() || s.inValue) {
        if (headers.size() >= kMaxHeaders) return 1;
        headers.emplace_back();
        s.inValue = false;
      }
      headers.back().first.append(at, length);
      return 0;
    };
    settings.on_header_value = [](http_parser* p, const char* at, size_t length) {
      State& s = of(p);
      s.head.headers.back().second.append(at, length);
      s.inValue = true;
      return 0;
    };
    settings.on_headers_complete = [](http_parser* p) {
      State& s = of(p);
      HttpResponseHead& head = s.head;
      head.status = p->status_code;
      head.versionMajor = p->http_major;
      head.versionMinor = p->http_minor;
      for (auto& field : head.headers) field.second = std::string(trimmed(field.second));
      const bool interim = head.status / 100 == 1;
      const bool noBody = s.skipBody && !interim;
      const bool bodiless = noBody || interim || head.status == 204 || head.status == 304;
      // Neither chunked nor with a length: the body runs until the origin closes.
      const bool framed = (p->flags & F_CHUNKED) != 0 || p->content_length != ULLONG_MAX;
      head.keepAlive = http_should_keep_alive(p) != 0;
      head.endsAtClose = !bodiless && !framed;
      if (head.endsAtClose) head.keepAlive = false;
      s.headDone = true;
      http_parser_pause(p, 1);  // the head goes out before any of the body
      // The parser would read a 304's Content-Length as a body to come: it is told there's none.
      return bodiless ? 1 : 0;
    };
    settings.on_message_complete = [](http_parser* p) {
      State& s = of(p);
      s.messageDone = true;
      s.phase = Phase::kIdle;
      if (s.head.status / 100 != 1) s.skipBody = false;
      http_parser_pause(p, 1);  // the next response waits for the next request
      return 0;
    };
  }

  // Runs the parser over `bytes`; how many it took, or the failure.
  Result<size_t> execute(const char* data, size_t length) {
    http_parser_pause(&parser, 0);
    const size_t taken = http_parser_execute(&parser, &settings, data, length);
    const http_errno error = HTTP_PARSER_ERRNO(&parser);
    if (error != HPE_OK && error != HPE_PAUSED) {
      return fail(error == HPE_CB_header_field
                      ? std::string("too many header fields in a response")
                      : std::string("malformed response: ") + http_errno_description(error));
    }
    return taken;
  }
};

HttpResponseReader::HttpResponseReader() : state_(std::make_unique<State>()) {}

HttpResponseReader::~HttpResponseReader() = default;

void HttpResponseReader::expect(std::string_view method) { state_->skipBody = method == "HEAD"; }

bool HttpResponseReader::inResponse() const { return state_->phase != State::Phase::kIdle; }

Result<HttpResponseReader::Fed> HttpResponseReader::feed(std::string_view bytes) {
  State& s = *state_;
  if (s.failure) return *s.failure;
  Fed fed;
  if (bytes.empty()) return fed;
  const bool inBody = s.phase == State::Phase::kBody;
  Result<size_t> taken = s.execute(bytes.data(), bytes.size());
  if (!taken.ok()) return taken.status();
  fed.consumed = *taken;
  if (s.headDone) {
    s.headDone = false;
    fed.head = s.head;
    // The parser stops on the head's last line feed without taking it; it is the head's.
    if (fed.consumed < bytes.size()) {
      Result<size_t> last = s.execute(bytes.data() + fed.consumed, 1);
      if (!last.ok()) return last.status();
      fed.consumed += *last;
    }
    if (s.phase == State::Phase::kHead) s.phase = State::Phase::kBody;
  } else if (inBody) {
    fed.body = bytes.substr(0, fed.consumed);
  }
  if (s.messageDone) {
    s.messageDone = false;
    fed.complete = true;
  }
  return fed;
}

Result<HttpResponseReader::Fed> HttpResponseReader::finish() {
  State& s = *state_;
  if (s.failure) return *s.failure;
  Fed fed;
  if (s.phase == State::Phase::kIdle) return fed;
  if (s.phase == State::Phase::kHead) return s.fail("the origin closed in the middle of a head");
  Result<size_t> taken = s.execute(nullptr, 0);
  if (!taken.ok()) return taken.status();
  if (!s.messageDone) return s.fail("the origin closed before the response's end");
  s.messageDone = false;
  fed.complete = true;
  return fed;
}

}  // namespace zelto
