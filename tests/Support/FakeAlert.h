// FakeAlert: an alert presenter that keeps each alert open until the test ends it.
//
// Records the window and content of every `beginSheet`; `end` calls the oldest open alert's
// completion. Install it with Alert::ScopedOverride. One test thread.
#pragma once

#include <deque>
#include <utility>
#include <vector>

#include "Platform/Alert.h"

namespace zelto::testing {

class FakeAlert final : public Alert {
 public:
  struct Shown {
    Window* window;
    Content content;
  };

  void beginSheet(Window* window, const Content& content, Completion completion) override {
    shown_.push_back({window, content});
    open_.push_back(std::move(completion));
  }

  const std::vector<Shown>& shown() const { return shown_; }
  size_t openCount() const { return open_.size(); }

  // Ends the oldest open alert as if `button` had been pressed. REQUIRES: openCount() > 0.
  void end(int button) {
    Completion completion = std::move(open_.front());
    open_.pop_front();
    if (completion) completion(button);
  }

 private:
  std::vector<Shown> shown_;
  std::deque<Completion> open_;
};

}  // namespace zelto::testing
