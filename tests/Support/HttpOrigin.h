// HttpOrigin: a raw HTTP/1.1 origin for end-to-end tests, on its own thread, that records
// exactly what reached it.
//
// It keeps every connection open whatever it is told (it ignores "Connection: close"), reads
// each request itself (the head, then a body framed by Content-Length or chunked), records it,
// and answers 200: a target under /html with a small HTML page (for browsers, which would
// download anything else), any other with bodyFor(target): "hit TARGET", and, when the target
// holds "size=N", a line break and N varied bytes; a target holding "chunked" is answered
// chunked; HEAD gets the head alone.
//
// readHttpMessage, the framing it reads requests with, reads responses for the tests' clients.
// Construct and query from the test's thread; the server's thread (a run loop of its own, on the
// program's network layer) ends with the object.
#pragma once

#include <http_parser.h>
#include <strings.h>

#include <charconv>
#include <memory>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "Platform/Linux/UvNetwork.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Support/LoopbackClient.h"

namespace zelto::testing {

// One HTTP/1.1 message: a request's method and target, or a response's version and status; its
// fields and its body (without its chunked framing).
struct HttpMessage {
  std::string first;
  std::string second;
  std::vector<std::pair<std::string, std::string>> fields;
  std::string body;

  // The first field named `name` (in any case); empty when there is none.
  std::string field(const std::string& name) const {
    for (const auto& [key, value] : fields) {
      if (::strcasecmp(key.c_str(), name.c_str()) == 0) return value;
    }
    return {};
  }
};

// The length of the first whole message at the start of `bytes`, read into `message`; 0 when
// more bytes must come, npos when the bytes are no HTTP. `answering`: for a response, the
// method it answers (HEAD's answer and a CONNECT's 2xx have no body). `ended`: no more bytes
// will come (a response without framing ends with its connection).
inline size_t readHttpMessage(std::string_view bytes, HttpMessage& message,
                              std::string_view answering = {}, bool ended = false) {
  struct Reading {
    static Reading& of(http_parser* parser) { return *static_cast<Reading*>(parser->data); }
    HttpMessage message;
    std::string_view answering;
    bool complete = false;
  } reading{{}, answering};
  http_parser parser;
  http_parser_init(&parser, bytes.starts_with("HTTP/") ? HTTP_RESPONSE : HTTP_REQUEST);
  parser.data = &reading;
  http_parser_settings settings{};
  settings.on_url = [](http_parser* p, const char* at, size_t size) {
    Reading::of(p).message.second.append(at, size);
    return 0;
  };
  settings.on_header_field = [](http_parser* p, const char* at, size_t size) {
    Reading::of(p).message.fields.emplace_back(std::string(at, size), "");
    return 0;
  };
  settings.on_header_value = [](http_parser* p, const char* at, size_t size) {
    Reading::of(p).message.fields.back().second.append(at, size);
    return 0;
  };
  settings.on_headers_complete = [](http_parser* p) {
    Reading& reading = Reading::of(p);
    if (p->type == HTTP_REQUEST) {
      reading.message.first = http_method_str(static_cast<http_method>(p->method));
      return 0;
    }
    reading.message.first =
        "HTTP/" + std::to_string(p->http_major) + "." + std::to_string(p->http_minor);
    reading.message.second = std::to_string(p->status_code);
    return reading.answering == "HEAD" ||
                   (reading.answering == "CONNECT" && p->status_code / 100 == 2)
               ? 1
               : 0;
  };
  settings.on_body = [](http_parser* p, const char* at, size_t size) {
    Reading::of(p).message.body.append(at, size);
    return 0;
  };
  settings.on_message_complete = [](http_parser* p) {
    Reading::of(p).complete = true;
    http_parser_pause(p, 1);
    return 0;
  };
  size_t used = http_parser_execute(&parser, &settings, bytes.data(), bytes.size());
  if (!reading.complete && ended && HTTP_PARSER_ERRNO(&parser) == HPE_OK) {
    http_parser_execute(&parser, &settings, nullptr, 0);  // the end of a response's body
    used = bytes.size();
  }
  if (reading.complete) {
    message = std::move(reading.message);
    return used;
  }
  return HTTP_PARSER_ERRNO(&parser) == HPE_OK ? 0 : std::string_view::npos;
}

// `bytes` as one chunk of a chunked body.
inline std::string chunk(std::string_view bytes) {
  std::ostringstream size;
  size << std::hex << bytes.size();
  return size.str() + "\r\n" + std::string(bytes) + "\r\n";
}

// What reached an origin: one request.
struct OriginRequest {
  std::string method;
  std::string target;
  std::string host;  // the Host field
  std::string body;
  bool operator==(const OriginRequest&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const OriginRequest& request) {
    return out << request.method << ' ' << request.target << " (Host: " << request.host
               << ", body: \"" << request.body << "\")";
  }
};

class HttpOrigin {
 public:
  static constexpr const char* kPage =
      "<html><head><title>Origin</title></head><body><p>The origin's own page</p></body></html>";

  // Listens on `ip` at a free port: a loopback address (127.0.0.2 acts as another host), or one
  // of the machine's.
  explicit HttpOrigin(std::string ip = "127.0.0.1") : ip_(std::move(ip)) {
    origin_ = std::make_unique<LoopbackOrigin>(
        network_, [this](LoopbackOrigin::Peer& peer) { receive(peer); }, ip_);
    port_ = origin_->port();
    if (port_ != 0) thread_ = std::thread([this] { loop_.run(); });
  }
  ~HttpOrigin() {
    loop_.post([this] {
      origin_.reset();
      loop_.stop();
    });
    if (thread_.joinable()) thread_.join();
  }
  HttpOrigin(const HttpOrigin&) = delete;
  HttpOrigin& operator=(const HttpOrigin&) = delete;

  int port() const { return port_; }
  // "IP:PORT": the Host field a request for it carries, and the site pattern that blocks it.
  std::string pattern() const { return ip_ + ":" + std::to_string(port_); }
  std::string url(const std::string& path = "/") const { return "http://" + pattern() + path; }

  // Every request received, in order.
  std::vector<OriginRequest> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  int hits() const { return static_cast<int>(requests().size()); }

  static std::string bodyFor(std::string_view target) {
    std::string body = "hit " + std::string(target);
    if (const size_t at = target.find("size="); at != std::string_view::npos) {
      size_t size = 0;
      std::from_chars(target.data() + at + 5, target.data() + target.size(), size);
      body += '\n';
      for (size_t i = 0; i < size; ++i) body.push_back(static_cast<char>((i * 7 + 3) % 256));
    }
    return body;
  }

 private:
  // Answers every whole request in `peer`'s bytes; one that isn't HTTP ends it.
  void receive(LoopbackOrigin::Peer& peer) {
    while (true) {
      HttpMessage request;
      const size_t used = readHttpMessage(peer.received, request);
      if (used == 0) return;
      std::lock_guard lock(mutex_);
      if (used == std::string_view::npos) {
        requests_.push_back({"(not HTTP)", std::exchange(peer.received, {}), "", ""});
        peer.stream->close();
        return;
      }
      requests_.push_back({request.first, request.second, request.field("Host"), request.body});
      peer.received.erase(0, used);
      peer.stream->write(responseTo(request)).ignoreError();
    }
  }

  static std::string responseTo(const HttpMessage& request) {
    const bool html = request.second.starts_with("/html"), head = request.first == "HEAD";
    const std::string body = html ? kPage : bodyFor(request.second);
    std::string text = "HTTP/1.1 200 OK\r\nContent-Type: ";
    text += html ? "text/html; charset=utf-8\r\n" : "application/octet-stream\r\n";
    if (request.second.find("chunked") == std::string::npos) {
      text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
      return head ? text : text + body;
    }
    text += "Transfer-Encoding: chunked\r\n\r\n";
    for (size_t at = 0; at < body.size() && !head; at += 4000) {
      text += chunk(std::string_view(body).substr(at, 4000));
    }
    return head ? text : text + "0\r\n\r\n";
  }

  std::string ip_;
  int port_ = 0;
  UvRunLoop loop_;
  UvNetwork network_{loop_};
  std::unique_ptr<LoopbackOrigin> origin_;
  mutable std::mutex mutex_;
  std::vector<OriginRequest> requests_;
  std::thread thread_;
};

}  // namespace zelto::testing
