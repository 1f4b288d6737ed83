#include "MainApp/HttpBodyFramer.h"

#include <http_parser.h>

#include <algorithm>
#include <string>

namespace zelto {

struct HttpBodyFramer::Chunked {
  http_parser parser{};
  http_parser_settings settings{};
  bool complete = false;
};

HttpBodyFramer::HttpBodyFramer(const HttpRequestHead& head) {
  switch (head.body) {
    case HttpRequestHead::Body::kNone:
      done_ = true;
      break;
    case HttpRequestHead::Body::kLength:
      remaining_ = head.contentLength;
      done_ = remaining_ == 0;
      break;
    case HttpRequestHead::Body::kChunked: {
      chunked_ = std::make_unique<Chunked>();
      http_parser_init(&chunked_->parser, HTTP_REQUEST);
      chunked_->parser.data = chunked_.get();
      chunked_->settings.on_message_complete = [](http_parser* parser) {
        static_cast<Chunked*>(parser->data)->complete = true;
        http_parser_pause(parser, 1);  // stop right after the body's last byte
        return 0;
      };
      static constexpr std::string_view kHead =
          "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
      http_parser_execute(&chunked_->parser, &chunked_->settings, kHead.data(), kHead.size());
      break;
    }
  }
}

HttpBodyFramer::~HttpBodyFramer() = default;

Result<size_t> HttpBodyFramer::take(std::string_view bytes) {
  if (done_ || bytes.empty()) return size_t{0};
  if (!chunked_) {
    const size_t taken = static_cast<size_t>(std::min<uint64_t>(remaining_, bytes.size()));
    remaining_ -= taken;
    done_ = remaining_ == 0;
    return taken;
  }
  http_parser& parser = chunked_->parser;
  if (HTTP_PARSER_ERRNO(&parser) != HPE_OK) return Status::failure("malformed chunked body");
  const size_t taken =
      http_parser_execute(&parser, &chunked_->settings, bytes.data(), bytes.size());
  if (chunked_->complete) {
    done_ = true;
    return taken;
  }
  if (HTTP_PARSER_ERRNO(&parser) != HPE_OK) {
    return Status::failure(std::string("malformed chunked body: ") +
                           http_errno_description(HTTP_PARSER_ERRNO(&parser)));
  }
  return taken;
}

}  // namespace zelto
