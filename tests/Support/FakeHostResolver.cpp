#include "Support/FakeHostResolver.h"

#include <algorithm>
#include <utility>

namespace zelto::testing {

struct FakeHostResolver::Request {
  std::string host;
  int port;
  Callback callback;  // none once answered or cancelled
};

void FakeHostResolver::setAddresses(const std::string& host, std::vector<std::string> ips) {
  failures_.erase(host);
  addresses_[host] = std::move(ips);
}

void FakeHostResolver::setFailure(const std::string& host, std::string reason) {
  addresses_.erase(host);
  failures_[host] = std::move(reason);
}

void FakeHostResolver::setDefaultAddresses(std::vector<std::string> ips) {
  defaultAddresses_ = std::move(ips);
}

size_t FakeHostResolver::lookups(const std::string& host) const {
  auto it = lookupsByHost_.find(host);
  return it == lookupsByHost_.end() ? 0 : it->second;
}

size_t FakeHostResolver::pending() const {
  return std::count_if(waiting_.begin(), waiting_.end(),
                       [](const auto& r) { return r->callback != nullptr; });
}

std::unique_ptr<Registration> FakeHostResolver::resolve(const std::string& host, int port,
                                                        Callback callback) {
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

void FakeHostResolver::release() {
  std::vector<std::shared_ptr<Request>> batch;
  batch.swap(waiting_);
  for (auto& request : batch) loop_.post([this, request] { answer(request); });
}

void FakeHostResolver::answer(const std::shared_ptr<Request>& request) {
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

}  // namespace zelto::testing
