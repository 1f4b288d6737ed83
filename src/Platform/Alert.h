// Alert: shows the user a message with buttons and says when it has ended.
//
// `beginSheet` shows an alert attached to a window (or on its own, for a null window) and
// returns; `completion` runs exactly once when the alert ends, whichever way, with the index of
// the button that ended it, or -1 when it ended without one. The process has one current
// alert presenter: without a user interface it is the headless one (HeadlessAlert), which logs
// the alert and ends it at once. Tests replace it for a scope with Alert::ScopedOverride.
//
// Ownership: the presenter outlives the alerts it shows. Threads: user-interface presenters
// want the main thread; the headless one any thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace zelto {

class Alert {
 public:
  // A window of the user interface, opaque to everything but the presenter that made it.
  class Window;

  enum class Style { kWarning, kInformational, kCritical };

  struct Content {
    std::string messageText;      // the title line
    std::string informativeText;  // the explanation below it
    std::vector<std::string> buttons;
    Style style = Style::kWarning;
  };

  using Completion = std::function<void(int button)>;

  virtual ~Alert() = default;
  virtual void beginSheet(Window* window, const Content& content, Completion completion) = 0;

  // The process's presenter (the headless one unless overridden).
  static Alert& current();

  class ScopedOverride {
   public:
    explicit ScopedOverride(Alert& alert);
    ~ScopedOverride();
    ScopedOverride(const ScopedOverride&) = delete;
    ScopedOverride& operator=(const ScopedOverride&) = delete;

   private:
    Alert* previous_;
  };
};

}  // namespace zelto
