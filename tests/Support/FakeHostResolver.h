// FakeHostResolver: a HostResolver for tests, answering from a table the test fills.
//
// Each host maps to its numeric addresses or to a failure; a host not in the table fails as an
// unknown name does ("cannot resolve HOST: Domain name not found"), unless a default answer is
// set. Answers are posted to the loop, so they arrive when the test turns it, never inside
// `resolve`. While held (`hold`), requests wait unanswered until `release`, so that a test can
// see how many are under way. Every request is counted, and an observer may watch them begin.
//
// The loop's thread (the test's) only.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Platform/HostResolver.h"
#include "Platform/RunLoop.h"

namespace zelto::testing {

class FakeHostResolver final : public HostResolver {
 public:
  explicit FakeHostResolver(RunLoop& loop) : loop_(loop) {}

  void setAddresses(const std::string& host, std::vector<std::string> ips) {
    failures_.erase(host);
    addresses_[host] = std::move(ips);
  }
  void setFailure(const std::string& host, std::string reason) {
    addresses_.erase(host);
    failures_[host] = std::move(reason);
  }
  // What a host not in the table answers: these addresses (none: the unknown-name failure).
  void setDefaultAddresses(std::vector<std::string> ips) { defaultAddresses_ = std::move(ips); }

  // While held, requests wait; release answers every one waiting (the cancelled ones not).
  void hold(bool held) { held_ = held; }
  void release() {
    for (auto& request : std::exchange(waiting_, {})) {
      loop_.post([this, request] { answer(request); });
    }
  }

  // Called as each request arrives, with its host.
  void onLookup(std::function<void(const std::string&)> observer) {
    observer_ = std::move(observer);
  }

  size_t lookups() const { return lookups_; }
  size_t lookups(const std::string& host) const {
    return lookupsByHost_.contains(host) ? lookupsByHost_.at(host) : 0;
  }
  // Requests neither answered nor cancelled.
  size_t pending() const {
    return std::count_if(waiting_.begin(), waiting_.end(),
                         [](const auto& r) { return r->callback != nullptr; });
  }

  std::unique_ptr<Registration> resolve(const std::string& host, int port,
                                        Callback callback) override {
    ++lookups_;
    ++lookupsByHost_[host];
    if (observer_) observer_(host);
    auto request = std::make_shared<Request>(Request{host, port, std::move(callback)});
    if (held_) {
      waiting_.push_back(request);
    } else {
      loop_.post([this, request] { answer(request); });
    }
    // Cancelling (or dropping) the lookup drops its callback.
    struct Handle final : Registration {
      explicit Handle(std::shared_ptr<Request> request) : request(std::move(request)) {}
      ~Handle() override { cancel(); }
      void cancel() override { request->callback = nullptr; }
      std::shared_ptr<Request> request;
    };
    return std::make_unique<Handle>(request);
  }

 private:
  struct Request {
    std::string host;
    int port;
    Callback callback;  // none once answered or cancelled
  };

  void answer(const std::shared_ptr<Request>& request) {
    Callback callback = std::exchange(request->callback, nullptr);
    if (!callback) return;
    const std::vector<std::string>* ips = nullptr;
    if (auto it = addresses_.find(request->host); it != addresses_.end()) {
      ips = &it->second;
    } else if (auto failure = failures_.find(request->host); failure != failures_.end()) {
      callback(Status::failure("cannot resolve " + request->host + ": " + failure->second));
      return;
    } else if (defaultAddresses_) {
      ips = &*defaultAddresses_;
    }
    if (ips == nullptr) {
      callback(Status::failure("cannot resolve " + request->host + ": Domain name not found"));
      return;
    }
    std::vector<SocketAddress> addresses;
    for (const std::string& ip : *ips) {
      if (auto address = SocketAddress::parse(ip, request->port); address.ok()) {
        addresses.push_back(*address);
      }
    }
    callback(std::move(addresses));
  }

  RunLoop& loop_;
  std::map<std::string, std::vector<std::string>> addresses_;
  std::map<std::string, std::string> failures_;
  std::optional<std::vector<std::string>> defaultAddresses_;
  std::map<std::string, size_t> lookupsByHost_;
  size_t lookups_ = 0;
  bool held_ = false;
  std::vector<std::shared_ptr<Request>> waiting_;
  std::function<void(const std::string&)> observer_;
};

}  // namespace zelto::testing
