// HttpClient: sends HTTP requests without holding up the caller.
//
// `send` hands a request over and returns at once; the request runs on the client's own
// thread(s) and `completion` is called there, exactly once, with the answer or the reason there
// is none. HTTPS verifies the server's certificate and host name against the system's trusted
// authorities. The request's timeout bounds the whole exchange.
//
// Ownership: whoever makes a client owns it; destroying it waits for the requests in flight to
// finish (each is bounded by its timeout) and calls their completions first. `standard()` is the
// process's libcurl-backed client, never destroyed.
//
// Thread safety: `send` may be called from any thread; completions may run on any thread and
// must hand their work over to the thread that owns it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zelto {

struct HttpRequest {
  std::string method = "GET";
  std::string url;
  // In order; sent as given ("Content-Length" included when the caller sets it).
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  double timeoutSeconds = 60;
};

struct HttpResponse {
  // Present when the server answered: its status code and body.
  std::optional<int> status;
  std::string body;
  // Present when there was no answer. `errorCode` groups the reasons callers tell apart.
  enum class ErrorCode {
    kNone,
    kNotConnected,  // no route to the network / connection refused
    kHostNotFound,  // the name didn't resolve
    kTimedOut,      // the timeout ran out
    kOther,         // anything else (TLS failure, malformed URL, ...)
  };
  ErrorCode errorCode = ErrorCode::kNone;
  std::string errorMessage;
};

class HttpClient {
 public:
  using Completion = std::function<void(HttpResponse)>;

  virtual ~HttpClient() = default;
  virtual void send(HttpRequest request, Completion completion) = 0;

  static HttpClient& standard();
};

}  // namespace zelto
