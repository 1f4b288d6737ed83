#include "Support/FakeHttpClient.h"

#include <chrono>
#include <stdexcept>

namespace zelto::testing {

void FakeHttpClient::send(HttpRequest request, Completion completion) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(std::move(request));
    completions_.push_back(std::move(completion));
  }
  sent_.notify_all();
}

bool FakeHttpClient::waitForRequests(size_t count, double boundSeconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return sent_.wait_for(lock, std::chrono::duration<double>(boundSeconds),
                        [&] { return requests_.size() >= count; });
}

size_t FakeHttpClient::requestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.size();
}

HttpRequest FakeHttpClient::request(size_t index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.at(index);
}

void FakeHttpClient::answer(HttpResponse response) {
  Completion completion;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (completions_.empty()) throw std::logic_error("no request waits for an answer");
    completion = std::move(completions_.front());
    completions_.pop_front();
  }
  completion(std::move(response));
}

HttpResponse FakeHttpClient::status(int code, std::string body) {
  HttpResponse response;
  response.status = code;
  response.body = std::move(body);
  return response;
}

HttpResponse FakeHttpClient::failure(HttpResponse::ErrorCode code, std::string message) {
  HttpResponse response;
  response.errorCode = code;
  response.errorMessage = std::move(message);
  return response;
}

}  // namespace zelto::testing
