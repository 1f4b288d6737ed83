#include "MainApp/HttpRequestParser.h"

#include <http_parser.h>

#include <algorithm>
#include <cctype>

#include "Platform/Text.h"

namespace zelto {

namespace {

// RFC 9110's token characters, the only ones a header field's name may have.
bool isToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
  });
}

// Whether the head's request line ends in "HTTP/d.d" (the parser reads the name loosely).
bool endsInVersion(std::string_view head) {
  const size_t start = head.find_first_not_of("\r\n");
  if (start == std::string_view::npos) return false;
  std::string_view line = head.substr(start, head.find('\n', start) - start);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  static constexpr std::string_view kName = " HTTP/";
  if (line.size() < kName.size() + 3) return false;
  std::string_view version = line.substr(line.size() - kName.size() - 3);
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  return version.substr(0, kName.size()) == kName && digit(version[kName.size()]) &&
         version[kName.size() + 1] == '.' && digit(version[kName.size() + 2]);
}

void trimBlanks(std::string& text) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  size_t end = text.size();
  while (end > 0 && blank(text[end - 1])) --end;
  size_t begin = 0;
  while (begin < end && blank(text[begin])) ++begin;
  text = text.substr(begin, end - begin);
}

}  // namespace

std::optional<std::string_view> HttpRequestHead::header(std::string_view name) const {
  for (const auto& [field, value] : headers) {
    if (Text::equalsIgnoringAsciiCase(field, name)) return std::string_view(value);
  }
  return std::nullopt;
}

struct HttpRequestParser::State {
  http_parser parser{};
  http_parser_settings settings{};
  HttpRequestHead head;
  std::string raw;        // the current head's bytes as fed, for the checks the parser skips
  bool started = false;   // the parser is set up for the current head
  bool inValue = false;   // the last bytes given were of a header value
  bool complete = false;  // the current head has been read to its blank line
};

// libhttp-parser's callbacks: a non-zero return stops it, after fail() has said why.
struct HttpRequestParser::Callbacks {
  static HttpRequestParser& self(http_parser* parser) {
    return *static_cast<HttpRequestParser*>(parser->data);
  }

  static int onUrl(http_parser* parser, const char* at, size_t length) {
    HttpRequestParser& p = self(parser);
    std::string& target = p.state_->head.target;
    if (length > p.limits_.maxTargetBytes - target.size()) {
      p.fail(414, "request target too long").ignoreError();
      return 1;
    }
    target.append(at, length);
    return 0;
  }

  static int onHeaderField(http_parser* parser, const char* at, size_t length) {
    HttpRequestParser& p = self(parser);
    State& state = *p.state_;
    auto& headers = state.head.headers;
    if (headers.empty() || state.inValue) {
      if (headers.size() >= p.limits_.maxHeaders) {
        p.fail(431, "too many header fields").ignoreError();
        return 1;
      }
      headers.emplace_back();
      state.inValue = false;
    }
    headers.back().first.append(at, length);
    return 0;
  }

  static int onHeaderValue(http_parser* parser, const char* at, size_t length) {
    State& state = *self(parser).state_;
    // The parser gives a value only after its name.
    state.head.headers.back().second.append(at, length);
    state.inValue = true;
    return 0;
  }

  static int onHeadersComplete(http_parser* parser) {
    HttpRequestParser& p = self(parser);
    if (!p.finishHead().ok()) return -1;
    p.state_->complete = true;
    // No body and no further message: the parser stops right after the blank line, and what
    // follows is left to the caller.
    return 2;
  }
};

HttpRequestParser::HttpRequestParser() : HttpRequestParser(Limits()) {}

HttpRequestParser::HttpRequestParser(Limits limits)
    : limits_(limits), state_(std::make_unique<State>()) {
  state_->settings.on_url = &Callbacks::onUrl;
  state_->settings.on_header_field = &Callbacks::onHeaderField;
  state_->settings.on_header_value = &Callbacks::onHeaderValue;
  state_->settings.on_headers_complete = &Callbacks::onHeadersComplete;
}

HttpRequestParser::~HttpRequestParser() = default;

Status HttpRequestParser::fail(int status, std::string reason) {
  if (!failure_) {
    errorStatus_ = status;
    failure_ = Status::failure(std::move(reason));
  }
  return *failure_;
}

void HttpRequestParser::startHead() {
  http_parser_init(&state_->parser, HTTP_REQUEST);
  state_->parser.data = this;
  state_->head = HttpRequestHead();
  state_->raw.clear();
  state_->inValue = false;
  state_->complete = false;
  state_->started = true;
  headBytes_ = 0;
}

Status HttpRequestParser::finishHead() {
  http_parser& parser = state_->parser;
  HttpRequestHead& head = state_->head;
  if (!endsInVersion(state_->raw)) return fail(400, "malformed request line");
  if (parser.http_major != 1) return fail(505, "unsupported HTTP version");
  head.versionMajor = parser.http_major;
  head.versionMinor = parser.http_minor;
  head.method = http_method_str(static_cast<http_method>(parser.method));
  head.isConnect = parser.method == HTTP_CONNECT;
  head.upgrade = parser.upgrade != 0;
  head.keepAlive = http_should_keep_alive(&parser) != 0;

  if (parser.flags & F_CHUNKED) {
    head.body = HttpRequestHead::Body::kChunked;
  } else if (parser.uses_transfer_encoding) {
    // Its length could only be known by closing the connection, which a request can't do.
    return fail(400, "request body of unknown length");
  } else if ((parser.flags & F_CONTENTLENGTH) && parser.content_length > 0) {
    head.body = HttpRequestHead::Body::kLength;
    head.contentLength = parser.content_length;
  }

  for (auto& [name, value] : head.headers) {
    if (!isToken(name)) return fail(400, "malformed header field name");
    trimBlanks(value);
    if (value.find('\0') != std::string::npos) {
      return fail(400, "NUL byte in a header field");
    }
  }

  http_parser_url url;
  http_parser_url_init(&url);
  if (head.target.empty() ||
      http_parser_parse_url(head.target.data(), head.target.size(), head.isConnect, &url) != 0) {
    return fail(400, "malformed request target");
  }
  auto field = [&](http_parser_url_fields which) -> std::string_view {
    if (!(url.field_set & (1 << which))) return {};
    return std::string_view(head.target)
        .substr(url.field_data[which].off, url.field_data[which].len);
  };
  head.host = field(UF_HOST);
  if (url.field_set & (1 << UF_PORT)) {
    head.port = url.port;
  } else if (Text::equalsIgnoringAsciiCase(field(UF_SCHEMA), "http")) {
    head.port = 80;
  } else if (Text::equalsIgnoringAsciiCase(field(UF_SCHEMA), "https")) {
    head.port = 443;
  }
  return Status::success();
}

Result<HttpRequestParser::Fed> HttpRequestParser::feed(std::string_view bytes) {
  if (failure_) return *failure_;
  if (bytes.empty()) return Fed{};  // an empty chunk would tell the parser the stream ended
  if (!state_->started) startHead();

  const size_t room = limits_.maxHeadBytes - headBytes_;
  const std::string_view chunk = bytes.substr(0, room);
  size_t parsed = 0;
  if (!chunk.empty()) {
    state_->raw.append(chunk);  // at most the head's limit
    parsed = http_parser_execute(&state_->parser, &state_->settings, chunk.data(), chunk.size());
  }
  if (failure_) return *failure_;
  const auto error = static_cast<http_errno>(state_->parser.http_errno);
  if (error != HPE_OK) {
    return fail(error == HPE_HEADER_OVERFLOW ? 431 : 400,
                std::string("malformed request: ") + http_errno_description(error));
  }
  if (state_->complete) {
    Fed fed{std::move(state_->head), bytes.substr(parsed)};
    state_->started = false;
    headBytes_ = 0;
    return fed;
  }
  headBytes_ += parsed;
  if (bytes.size() > room) return fail(431, "request head too large");
  return Fed{};
}

}  // namespace zelto
