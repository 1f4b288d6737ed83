// FakeHttpClient: an HttpClient that records the requests sent to it and lets the test answer
// them, on the test's thread, whenever it likes (or never).
//
// `send` may be called from any thread; the test waits for requests with `waitForRequests`
// (bounded, never sleeping a fixed time) and answers the oldest unanswered one with `answer`.
// Requests still unanswered when the fake is destroyed are dropped without a completion.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "Platform/HttpClient.h"

namespace zelto::testing {

class FakeHttpClient final : public HttpClient {
 public:
  void send(HttpRequest request, Completion completion) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(std::move(request));
      completions_.push_back(std::move(completion));
    }
    sent_.notify_all();
  }

  // Waits until `count` requests have been sent in all; false when `boundSeconds` ran out first.
  bool waitForRequests(size_t count, double boundSeconds = 10.0) {
    std::unique_lock<std::mutex> lock(mutex_);
    return sent_.wait_for(lock, std::chrono::duration<double>(boundSeconds),
                          [&] { return requests_.size() >= count; });
  }
  size_t requestCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
  }
  HttpRequest request(size_t index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.at(index);
  }

  // Calls the completion of the oldest unanswered request with `response`. REQUIRES: one waits.
  void answer(HttpResponse response) {
    Completion completion;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (completions_.empty()) throw std::logic_error("no request waits for an answer");
      completion = std::move(completions_.front());
      completions_.pop_front();
    }
    completion(std::move(response));
  }

  static HttpResponse status(int code, std::string body) {
    HttpResponse response;
    response.status = code;
    response.body = std::move(body);
    return response;
  }
  static HttpResponse failure(HttpResponse::ErrorCode code, std::string message = "failed") {
    HttpResponse response;
    response.errorCode = code;
    response.errorMessage = std::move(message);
    return response;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable sent_;
  std::vector<HttpRequest> requests_;
  std::deque<Completion> completions_;
};

}  // namespace zelto::testing
