// FakeHttpClient: an HttpClient that records the requests sent to it and lets the test answer
// them, on the test's thread, whenever it likes (or never).
//
// `send` may be called from any thread; the test waits for requests with `waitForRequests`
// (bounded, never sleeping a fixed time) and answers the oldest unanswered one with `answer`.
// Requests still unanswered when the fake is destroyed are dropped without a completion.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/HttpClient.h"

namespace zelto::testing {

class FakeHttpClient final : public HttpClient {
 public:
  void send(HttpRequest request, Completion completion) override;

  // Waits until `count` requests have been sent in all; false when `boundSeconds` ran out first.
  bool waitForRequests(size_t count, double boundSeconds = 10.0);
  size_t requestCount() const;
  HttpRequest request(size_t index) const;

  // Calls the completion of the oldest unanswered request with `response`. REQUIRES: one waits.
  void answer(HttpResponse response);

  static HttpResponse status(int code, std::string body);
  static HttpResponse failure(HttpResponse::ErrorCode code, std::string message = "failed");

 private:
  mutable std::mutex mutex_;
  std::condition_variable sent_;
  std::vector<HttpRequest> requests_;
  std::deque<Completion> completions_;
};

}  // namespace zelto::testing
