// HttpOrigin: a web server for end-to-end tests, on its own thread: every GET is answered 200
// and counted: paths under /html with a small HTML page (for browsers, which would download
// anything else), all others with the same 300 KiB of varied bytes.
// Construct and use from the test's thread; the server's thread ends with the object.
#pragma once

#include <httplib.h>

#include <atomic>
#include <string>
#include <thread>

namespace zelto::testing {

class HttpOrigin {
 public:
  static constexpr const char* kPage =
      "<html><head><title>Origin</title></head><body><p>The origin's own page</p></body></html>";

  // `bind`: the address it listens on; `host`: how its addresses name it.
  explicit HttpOrigin(const std::string& bind = "127.0.0.1", std::string host = "127.0.0.1")
      : host_(std::move(host)) {
    for (int i = 0; i < 300 * 1024; ++i) body_.push_back(static_cast<char>((i * 7) % 256));
    server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
      ++hits_;
      if (request.path.rfind("/html", 0) == 0) {
        response.set_content(kPage, "text/html; charset=utf-8");
      } else {
        response.set_content(body_, "application/octet-stream");
      }
    });
    port_ = server_.bind_to_any_port(bind);
    // Bound means listening: connections queue until the thread accepts them.
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~HttpOrigin() {
    server_.stop();
    thread_.join();
  }
  HttpOrigin(const HttpOrigin&) = delete;
  HttpOrigin& operator=(const HttpOrigin&) = delete;

  // "http://HOST:PORT" + path.
  std::string url(const std::string& path = "/") const { return "http://" + pattern() + path; }
  // The site pattern that blocks this origin, whatever the path: "HOST:PORT".
  std::string pattern() const { return host_ + ":" + std::to_string(port_); }
  int port() const { return port_; }
  int hits() const { return hits_; }
  const std::string& body() const { return body_; }

 private:
  std::string host_;
  httplib::Server server_;
  std::thread thread_;
  std::string body_;
  std::atomic<int> hits_{0};
  int port_ = 0;
};

}  // namespace zelto::testing
