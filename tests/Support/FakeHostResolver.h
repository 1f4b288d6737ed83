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

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/HostResolver.h"
#include "Platform/RunLoop.h"

namespace zelto::testing {

class FakeHostResolver final : public HostResolver {
 public:
  explicit FakeHostResolver(RunLoop& loop) : loop_(loop) {}

  void setAddresses(const std::string& host, std::vector<std::string> ips);
  void setFailure(const std::string& host, std::string reason);
  // What a host not in the table answers: these addresses (none: the unknown-name failure).
  void setDefaultAddresses(std::vector<std::string> ips);

  // While held, requests wait; release answers every one waiting (the cancelled ones not).
  void hold(bool held) { held_ = held; }
  void release();

  // Called as each request arrives, with its host.
  void onLookup(std::function<void(const std::string&)> observer) {
    observer_ = std::move(observer);
  }

  size_t lookups() const { return lookups_; }
  size_t lookups(const std::string& host) const;
  // Requests neither answered nor cancelled.
  size_t pending() const;

  std::unique_ptr<Registration> resolve(const std::string& host, int port,
                                        Callback callback) override;

 private:
  struct Request;

  void answer(const std::shared_ptr<Request>& request);

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
