#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "Platform/Linux/CurlHttpClient.h"

namespace zelto {
namespace {

using Code = HttpResponse::ErrorCode;
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
  // One request per connection, so nothing lingers in keep-alive when the server stops.
  LocalServer() { server_.set_keep_alive_max_count(1); }
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

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
};

// Receives one completion, from whatever thread; the promise stays with the completion, so a
// late one never writes to a test that stopped waiting, and a second one is a failure.
class Answer {
 public:
  HttpClient::Completion completion() const {
    return [promise = promise_](HttpResponse response) {
      try {
        promise->set_value(std::move(response));
      } catch (const std::future_error&) {
        ADD_FAILURE() << "a second completion";
      }
    };
  }
  // The response, or nothing when none came within the bound.
  std::optional<HttpResponse> wait() {
    if (future_.wait_for(kBound) != std::future_status::ready) return std::nullopt;
    return future_.get();
  }
  bool received() const {
    return future_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  }

 private:
  std::shared_ptr<std::promise<HttpResponse>> promise_ =
      std::make_shared<std::promise<HttpResponse>>();
  std::future<HttpResponse> future_ = promise_->get_future();
};

HttpRequest request(const std::string& url, const std::string& method = "GET",
                    std::vector<std::pair<std::string, std::string>> headers = {},
                    const std::string& body = "") {
  return HttpRequest{method, url, std::move(headers), body, /*timeoutSeconds=*/10};
}

// Sends `request` and waits for its answer.
std::optional<HttpResponse> fetch(HttpClient& client, const HttpRequest& request) {
  Answer answer;
  client.send(request, answer.completion());
  return answer.wait();
}

TEST(CurlHttpClientTest, PostCarriesBodyAndHeadersAndReturnsStatusAndBody) {
  SKIP_WITH_THREAD_SANITIZER();
  LocalServer local;
  std::mutex seenMutex;
  httplib::Request seen;
  local.server().Post("/upload", [&](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(seenMutex);
    seen = req;
    res.status = 202;
    res.set_content("accepted", "text/plain");
  });
  local.server().Get("/missing", [](const httplib::Request&, httplib::Response& res) {
    res.status = 404;
    res.set_content("no such page", "text/plain");
  });
  local.start();

  // Larger than the size at which curl would otherwise ask the server to "Expect" it.
  const std::string body = "v=2&e=" + std::string(5000, 'x');
  CurlHttpClient client;
  auto response = fetch(client, request(local.url("/upload"), "POST",
                                        {{"Content-Type", "application/x-www-form-urlencoded"},
                                         {"Content-Length", std::to_string(body.size())},
                                         {"X-Custom", "a value"}},
                                        body));
  ASSERT_TRUE(response.has_value());
  EXPECT_EQ(std::tuple(response->errorCode, response->status, response->body),
            std::tuple(Code::kNone, std::optional(202), "accepted"))
      << response->errorMessage;
  std::lock_guard<std::mutex> lock(seenMutex);
  EXPECT_EQ(std::tuple(seen.method, seen.body, seen.get_header_value("Content-Type"),
                       seen.get_header_value("X-Custom"), seen.has_header("Expect")),
            std::tuple("POST", body, "application/x-www-form-urlencoded", "a value", false));

  // An error status is an answer, not a failure; the process's client gives it too.
  response = fetch(HttpClient::standard(), request(local.url("/missing")));
  ASSERT_TRUE(response.has_value());
  EXPECT_EQ(std::tuple(response->errorCode, response->status, response->body),
            std::tuple(Code::kNone, std::optional(404), "no such page"))
      << response->errorMessage;
}

TEST(CurlHttpClientTest, SilentServerTimesOutAndDestructionWaitsForRequestsInFlight) {
  SKIP_WITH_THREAD_SANITIZER();
  LocalServer local;
  // The handler holds its answer until the test ends (or the bound runs out).
  std::promise<void> release;
  local.server().Get("/silent",
                     [held = release.get_future().share()](
                         const httplib::Request&, httplib::Response&) { held.wait_for(kBound); });
  local.start();
  HttpRequest silent = request(local.url("/silent"));
  silent.timeoutSeconds = 0.2;

  {
    CurlHttpClient client;
    auto response = fetch(client, silent);
    ASSERT_TRUE(response.has_value());
    EXPECT_EQ(response->errorCode, Code::kTimedOut);
    EXPECT_FALSE(response->status.has_value());
  }

  Answer late;
  {
    CurlHttpClient client;
    client.send(silent, late.completion());
  }  // waits for the request: its completion has run by now
  EXPECT_TRUE(late.received());
  release.set_value();
}

TEST(CurlHttpClientTest, BodyBeyondTheLimitIsRefused) {
  SKIP_WITH_THREAD_SANITIZER();
  constexpr size_t kLimit = 1024;
  LocalServer local;
  // A body of the size the path gives.
  local.server().Get(R"(/(\d+))", [&](const httplib::Request& req, httplib::Response& res) {
    res.set_content(std::string(std::stoul(req.matches[1]), 'a'), "text/plain");
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

  // All three at once, on the client's one worker.
  CurlHttpClient client(kLimit);
  Answer exact, longer, streamed;
  client.send(request(local.url("/1024")), exact.completion());
  client.send(request(local.url("/1025")), longer.completion());
  client.send(request(local.url("/streamed")), streamed.completion());

  auto response = exact.wait();
  ASSERT_TRUE(response.has_value());
  EXPECT_EQ(response->status, 200);
  EXPECT_EQ(response->body.size(), kLimit);
  for (Answer* refused : {&longer, &streamed}) {
    response = refused->wait();
    ASSERT_TRUE(response.has_value());
    EXPECT_EQ(std::tuple(response->errorCode, response->status, response->body),
              std::tuple(Code::kOther, std::optional<int>(), ""));
    EXPECT_NE(response->errorMessage.find("larger than 1024 bytes"), std::string::npos)
        << response->errorMessage;
  }
}

// A port nobody listens on, and requests refused before anything is sent: each fails, saying
// why, and the server hears nothing.
TEST(CurlHttpClientTest, FailuresSayWhyAndUnsafeRequestsAreNeverSent) {
  LocalServer local;
  std::atomic<int> requests = 0;
  local.server().Get("/", [&](const httplib::Request&, httplib::Response&) { ++requests; });
  local.server().Post("/", [&](const httplib::Request&, httplib::Response&) { ++requests; });
  local.start();
  const std::string url = local.url("/");
  std::string gone;
  {
    LocalServer closed;
    closed.start();
    gone = closed.url("/");
  }  // closed after `local` bound: its port can't be `local`'s

  CurlHttpClient client;
  const std::pair<HttpRequest, Code> cases[] = {
      {request(gone), Code::kNotConnected},
      {request(url, "GET", {{"X-Note", "a\r\nX-Injected: 1"}}), Code::kOther},  // a split header
      {request(url, "GET", {{"X Note", "a"}}), Code::kOther},
      {request(url, "POST", {{"content-length", "1000"}}, "abc"), Code::kOther},
      {request(url, "GET / HTTP/1.1\r\n"), Code::kOther},
      {request("file:///etc/hostname"), Code::kOther},
  };
  for (const auto& [failing, code] : cases) {
    auto response = fetch(client, failing);
    ASSERT_TRUE(response.has_value()) << failing.url;
    EXPECT_EQ(response->errorCode, code) << failing.method << " " << failing.url;
    EXPECT_FALSE(response->status.has_value());
    EXPECT_FALSE(response->errorMessage.empty());
  }
  EXPECT_EQ(requests, 0);
}

}  // namespace
}  // namespace zelto
