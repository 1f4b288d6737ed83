// HttpRequestParser: the requests arriving on one client connection of the filtering proxy,
// read incrementally from byte chunks as they arrive, one request head at a time.
//
// A head is the request line and the header fields up to the blank line. The parser stops right
// after it and hands back the bytes that follow (the start of the body, or of the tunnel after
// CONNECT) untouched: the caller forwards them as it sees fit and feeds the parser again only
// where the next request starts. Bytes are read by libhttp-parser; this class bounds what it
// keeps (head size, number of header fields, target length) and refuses anything malformed.
// A failure is final for the connection: every later feed fails with the same reason.
//
// Owns its parser state; one connection, the thread that reads from it (the main loop).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Platform/Status.h"

namespace zelto {

struct HttpRequestHead {
  enum class Body { kNone, kLength, kChunked };

  std::string method;  // "GET", "CONNECT", ...
  // As sent: absolute-form ("http://host:port/path?q") for a proxied request, authority-form
  // ("host:port") for CONNECT, origin-form ("/path") for a request to the proxy itself.
  std::string target;
  // From the target: the host (empty for origin-form) and the port (the one given, else the
  // scheme's: 80 for http, 443 for https; 0 when neither says).
  std::string host;
  uint16_t port = 0;
  int versionMajor = 1;
  int versionMinor = 1;
  // In the order received; names as sent, values without surrounding blanks.
  std::vector<std::pair<std::string, std::string>> headers;
  Body body = Body::kNone;
  uint64_t contentLength = 0;  // with Body::kLength
  bool isConnect = false;
  // After the head the connection speaks another protocol (CONNECT, or an accepted Upgrade).
  bool upgrade = false;
  // Whether the client expects the connection to stay open after this request.
  bool keepAlive = true;

  // The value of the first header field named `name` (case-insensitive), if any.
  std::optional<std::string_view> header(std::string_view name) const;
};

class HttpRequestParser {
 public:
  struct Limits {
    size_t maxHeadBytes = 16 * 1024;  // request line, header fields and the blank line
    size_t maxHeaders = 100;
    size_t maxTargetBytes = 8 * 1024;
  };

  // What one feed gave: a complete head when these bytes finished one, and the bytes of the
  // input after it (a view into the input fed). Without a head every byte was taken in.
  struct Fed {
    std::optional<HttpRequestHead> head;
    std::string_view rest;
  };

  HttpRequestParser();
  explicit HttpRequestParser(Limits limits);
  ~HttpRequestParser();
  HttpRequestParser(const HttpRequestParser&) = delete;
  HttpRequestParser& operator=(const HttpRequestParser&) = delete;

  // Takes in `bytes` up to the end of the head they complete, if any. A failure has a short
  // reason; errorStatus() then says how to answer it.
  Result<Fed> feed(std::string_view bytes);

  // After a failed feed: the HTTP status to answer with before closing (400, 414 target too
  // long, 431 head too large or too many header fields, 505 HTTP version); 0 before any failure.
  int errorStatus() const { return errorStatus_; }
  // Whether part of a head has been taken in and not yet completed.
  bool inHead() const { return headBytes_ > 0; }

 private:
  struct Callbacks;
  Status fail(int status, std::string reason);
  void startHead();
  Status finishHead();

  Limits limits_;
  struct State;
  std::unique_ptr<State> state_;
  size_t headBytes_ = 0;
  int errorStatus_ = 0;
  std::optional<Status> failure_;
};

}  // namespace zelto
