// HttpBodyFramer: where a request's body ends, as its head frames it (Content-Length, or chunked
// transfer coding with its trailer), so that exactly the body is forwarded and whatever follows
// it is read as the next request.
//
// The chunked coding is read by libhttp-parser (as part of a stand-in head), never by hand; the
// bytes themselves are passed on as they came.
//
// Owns its parser state; one client connection, the loop's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "MainApp/HttpRequestParser.h"
#include "Platform/Status.h"

namespace zelto {

class HttpBodyFramer {
 public:
  // The body `head` announces.
  explicit HttpBodyFramer(const HttpRequestHead& head);
  ~HttpBodyFramer();
  HttpBodyFramer(const HttpBodyFramer&) = delete;
  HttpBodyFramer& operator=(const HttpBodyFramer&) = delete;

  // How many of `bytes` (which follow what was taken before) belong to the body; after the
  // last of them done() holds. A malformed chunked coding fails, for good.
  Result<size_t> take(std::string_view bytes);
  bool done() const { return done_; }

 private:
  struct Chunked;
  uint64_t remaining_ = 0;  // Content-Length framing
  std::unique_ptr<Chunked> chunked_;
  bool done_ = false;
};

}  // namespace zelto
