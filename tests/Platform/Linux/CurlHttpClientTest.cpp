#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "Platform/Linux/CurlHttpClient.h"

namespace zelto {
namespace {

constexpr auto kBound = std::chrono::seconds(10);

// A cpp-httplib server on 127.0.0.1, on a port of its own. Register handlers, then start().
// The tests' server is Debian's libcpp-httplib, which is not instrumented: under ThreadSanitizer
// the way it hands a connection from its accept thread to a worker is invisible, and its own
// copies and comparisons of request data show as races between its threads (never in our code).
// The tests where that server answers across its threads run in the other builds only.
#if defined(__SANITIZE_THREAD__)
#define SKIP_WITH_THREAD_SANITIZER() \
  GTEST_SKIP() << "the uninstrumented test server's own threads confuse ThreadSanitizer"
#else
#define SKIP_WITH_THREAD_SANITIZER() (void)0
#endif

class LocalServer {
 public:
  LocalServer() {
    // One request per connection, so nothing lingers in keep-alive when the server stops.
    server_.set_keep_alive_max_count(1);
  }
  ~LocalServer() {
    if (thread_.joinable()) {
      server_.stop();
      thread_.join();
    }
  }

  httplib::Server& server() { return server_; }

  // Returns once the server is accepting.
  void start() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port_, 0);
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    auto deadline = std::chrono::steady_clock::now() + kBound;
    while (!server_.is_running() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    ASSERT_TRUE(server_.is_running());
  }

  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  int port() const { return port_; }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
};

// Receives one completion, from whatever thread.
class Answer {
 public:
  HttpClient::Completion completion() {
    return [this](HttpResponse response) {
      std::lock_guard<std::mutex> lock(mutex_);
      response_ = std::move(response);
      changed_.notify_all();
    };
  }
  // The response, or nothing when none came within the bound.
  std::optional<HttpResponse> wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, kBound, [this] { return response_.has_value(); });
    return response_;
  }
  bool received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return response_.has_value();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<HttpResponse> response_;
};

// Holds a handler until released (or the bound runs out, so the server can always stop).
class Gate {
 public:
  void hold() {
    std::unique_lock<std::mutex> lock(mutex_);
    open_.wait_for(lock, kBound, [this] { return released_; });
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    open_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable open_;
  bool released_ = false;
};

HttpRequest request(const std::string& url, double timeoutSeconds = 10) {
  HttpRequest request;
  request.url = url;
  request.timeoutSeconds = timeoutSeconds;
  return request;
}

TEST(CurlHttpClientTest, PostCarriesBodyAndHeadersAndReturnsStatusAndBody) {
  SKIP_WITH_THREAD_SANITIZER();
  LocalServer local;
  std::mutex seenMutex;
  std::string seenMethod, seenBody, seenType, seenCustom, seenExpect;
  local.server().Post("/upload", [&](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(seenMutex);
    seenMethod = req.method;
    seenBody = req.body;
    seenType = req.get_header_value("Content-Type");
    seenCustom = req.has_header("X-Custom") ? req.get_header_value("X-Custom") : "(none)";
    seenExpect = req.has_header("Expect") ? req.get_header_value("Expect") : "(none)";
    res.status = 202;
    res.set_content("accepted", "text/plain");
  });
  local.server().Get("/missing", [](const httplib::Request&, httplib::Response& res) {
    res.status = 404;
    res.set_content("no such page", "text/plain");
  });
  local.start();

  CurlHttpClient client;
  HttpRequest post = request(local.url("/upload"));
  post.method = "POST";
  // Larger than the size at which curl would otherwise ask the server to "Expect" it.
  post.body = "v=2&e=" + std::string(5000, 'x');
  post.headers = {{"Content-Type", "application/x-www-form-urlencoded"},
                  {"Content-Length", std::to_string(post.body.size())},
                  {"X-Custom", "a value"}};
  Answer answer;
  client.send(post, answer.completion());
  auto response = answer.wait();
  ASSERT_TRUE(response.has_value());
  EXPECT_EQ(response->errorCode, HttpResponse::ErrorCode::kNone) << response->errorMessage;
  EXPECT_EQ(response->status, 202);
  EXPECT_EQ(response->body, "accepted");
  {
    std::lock_guard<std::mutex> lock(seenMutex);
    EXPECT_EQ(seenMethod, "POST");
    EXPECT_EQ(seenBody, post.body);
    EXPECT_EQ(seenType, "application/x-www-form-urlencoded");
    EXPECT_EQ(seenCustom, "a value");
    EXPECT_EQ(seenExpect, "(none)");
  }

  // An error status is an answer, not a failure; the process's client gives it too.
  Answer missing;
  HttpClient::standard().send(request(local.url("/missing")), missing.completion());
  response = missing.wait();
  ASSERT_TRUE(response.has_value());
  EXPECT_EQ(response->errorCode, HttpResponse::ErrorCode::kNone) << response->errorMessage;
  EXPECT_EQ(response->status, 404);
  EXPECT_EQ(response->body, "no such page");
}

TEST(CurlHttpClientTest, RefusedConnectionIsNotConnected) {
  std::string url;
  {
    LocalServer gone;
    gone.start();
    url = gone.url("/");
  }  // nobody listens on that port any more
  CurlHttpClient client;
  Answer answer;
  client.send(request(url), answer.completion());
  auto response = answer.wait();
  ASSERT_TRUE(response.has_value());
  EXPECT_EQ(response->errorCode, HttpResponse::ErrorCode::kNotConnected);
  EXPECT_FALSE(response->status.has_value());
  EXPECT_FALSE(response->errorMessage.empty());
}

TEST(CurlHttpClientTest, SilentServerTimesOutAndDestructionWaitsForRequestsInFlight) {
  SKIP_WITH_THREAD_SANITIZER();
  LocalServer local;
  Gate gate;
  local.server().Get("/silent", [&](const httplib::Request&, httplib::Response&) { gate.hold(); });
  local.start();

  {
    CurlHttpClient client;
    Answer answer;
    client.send(request(local.url("/silent"), 0.2), answer.completion());
    auto response = answer.wait();
    ASSERT_TRUE(response.has_value());
    EXPECT_EQ(response->errorCode, HttpResponse::ErrorCode::kTimedOut);
    EXPECT_FALSE(response->status.has_value());
  }

  Answer late;
  {
    CurlHttpClient client;
    client.send(request(local.url("/silent"), 0.2), late.completion());
  }  // waits for the request: its completion has run by now
  EXPECT_TRUE(late.received());
  gate.release();
}

TEST(CurlHttpClientTest, BodyBeyondTheLimitIsRefused) {
  SKIP_WITH_THREAD_SANITIZER();
  constexpr size_t kLimit = 1024;
  LocalServer local;
  local.server().Get("/exact", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(std::string(kLimit, 'a'), "text/plain");
  });
  local.server().Get("/long", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(std::string(kLimit + 1, 'b'), "text/plain");
  });
  // No Content-Length: the excess shows only while the body arrives.
  local.server().Get("/streamed", [&](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
      if (offset >= 64 * kLimit) {
        sink.done();
        return true;
      }
      std::string chunk(kLimit / 2, 'c');
      return sink.write(chunk.data(), chunk.size());
    });
  });
  local.start();

  CurlHttpClient client(kLimit);
  Answer exact, longer, streamed;
  client.send(request(local.url("/exact")), exact.completion());
  client.send(request(local.url("/long")), longer.completion());
  client.send(request(local.url("/streamed")), streamed.completion());

  auto response = exact.wait();
  ASSERT_TRUE(response.has_value());
  EXPECT_EQ(response->status, 200);
  EXPECT_EQ(response->body.size(), kLimit);
  for (Answer* refused : {&longer, &streamed}) {
    response = refused->wait();
    ASSERT_TRUE(response.has_value());
    EXPECT_EQ(response->errorCode, HttpResponse::ErrorCode::kOther);
    EXPECT_FALSE(response->status.has_value());
    EXPECT_TRUE(response->body.empty());
    EXPECT_NE(response->errorMessage.find("larger than 1024 bytes"), std::string::npos)
        << response->errorMessage;
  }
}

TEST(CurlHttpClientTest, UnsafeRequestsAreRefusedBeforeAnythingIsSent) {
  LocalServer local;
  std::atomic<int> requests = 0;
  local.server().Get("/", [&](const httplib::Request&, httplib::Response&) { ++requests; });
  local.server().Post("/", [&](const httplib::Request&, httplib::Response&) { ++requests; });
  local.start();

  HttpRequest injected = request(local.url("/"));
  injected.headers = {{"X-Note", "a\r\nX-Injected: 1"}};
  HttpRequest badName = request(local.url("/"));
  badName.headers = {{"X Note", "a"}};
  HttpRequest wrongLength = request(local.url("/"));
  wrongLength.method = "POST";
  wrongLength.body = "abc";
  wrongLength.headers = {{"content-length", "1000"}};
  HttpRequest badMethod = request(local.url("/"));
  badMethod.method = "GET / HTTP/1.1\r\n";
  HttpRequest localFile = request("file:///etc/hostname");

  CurlHttpClient client;
  for (const HttpRequest& refused : {injected, badName, wrongLength, badMethod, localFile}) {
    Answer answer;
    client.send(refused, answer.completion());
    auto response = answer.wait();
    ASSERT_TRUE(response.has_value()) << refused.url;
    EXPECT_EQ(response->errorCode, HttpResponse::ErrorCode::kOther) << refused.method;
    EXPECT_FALSE(response->status.has_value());
  }
  EXPECT_EQ(requests, 0);
}

}  // namespace
}  // namespace zelto
