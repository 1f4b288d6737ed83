// FakeDesktopNotifier: a DesktopNotifier that keeps what it is asked to show, for the main
// application's tests.
//
// Any thread may notify; the test reads `shown` from its own.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "Platform/DesktopNotifier.h"

namespace zelto::testing {

class FakeDesktopNotifier : public DesktopNotifier {
 public:
  struct Notification {
    std::string title;
    std::string body;
    bool operator==(const Notification&) const = default;
  };

  void notify(const std::string& title, const std::string& body) override {
    std::lock_guard lock(mutex_);
    shown_.push_back({title, body});
  }

  std::vector<Notification> shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Notification> shown_;
};

}  // namespace zelto::testing
