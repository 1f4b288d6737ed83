// CurlHttpClient: the HttpClient of this program, on libcurl.
//
// The requests of a client are driven all at once through one curl multi handle, on the
// blocking calls' queue (DispatchQueue::blocking), for as long as some are in flight: one thread
// suffices for any number of concurrent requests (curl waits on all their sockets together), no
// thread is made per request, and an idle client holds no thread and wakes nobody.
//
// Each request: HTTP or HTTPS only, the server's certificate and host name verified, redirects
// not followed, the request's timeout bounding the whole exchange, headers sent as given (a
// header whose name or value could split the request, a method that isn't a token, or a
// "Content-Length" that differs from the body is refused before anything is sent). A response
// body larger than the client's limit is refused, not kept: the request fails with kOther.
//
// Ownership: the owner destroys the client; destruction waits for the requests in flight and
// calls their completions; a request sent meanwhile fails at once (kOther). Thread safety:
// `send` from any thread; completions run on the blocking calls' queue and may call `send`
// again.
#pragma once

#include <cstddef>
#include <memory>

#include "Platform/HttpClient.h"

namespace zelto {

class CurlHttpClient final : public HttpClient {
 public:
  // A hostile or broken server must not exhaust memory: bodies beyond this are refused.
  static constexpr size_t kDefaultMaxBodyBytes = size_t{1} << 20;

  explicit CurlHttpClient(size_t maxBodyBytes = kDefaultMaxBodyBytes);
  ~CurlHttpClient() override;
  CurlHttpClient(const CurlHttpClient&) = delete;
  CurlHttpClient& operator=(const CurlHttpClient&) = delete;

  void send(HttpRequest request, Completion completion) override;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace zelto
