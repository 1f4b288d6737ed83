#include "Support/FakeHostResolver.h"

#include <algorithm>
#include <utility>

namespace zelto::testing {

struct FakeHostResolver::Request {
  std::string host;
  int port;
  Callback callback;
  bool done = false;  // answered or cancelled
};

namespace {

class RequestHandle final : public Registration {
 public:
  explicit RequestHandle(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
  ~RequestHandle() override { cancel(); }
  void cancel() override {
    if (cancel_) std::exchange(cancel_, nullptr)();
  }

 private:
  std::function<void()> cancel_;
};

}  // namespace

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
  return std::count_if(waiting_.begin(), waiting_.end(), [](const auto& r) { return !r->done; });
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
  return std::make_unique<RequestHandle>([request] {
    request->done = true;
    request->callback = nullptr;
  });
}

void FakeHostResolver::release() {
  std::vector<std::shared_ptr<Request>> batch;
  batch.swap(waiting_);
  for (auto& request : batch) loop_.post([this, request] { answer(request); });
}

void FakeHostResolver::answer(const std::shared_ptr<Request>& request) {
  if (request->done) return;
  request->done = true;
  Callback callback = std::move(request->callback);
  request->callback = nullptr;
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
