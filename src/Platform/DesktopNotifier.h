// DesktopNotifier: shows a short notification (a title and a line of text) on the user's
// desktop.
//
// `notify` never waits for the desktop and never fails its caller: a notification that can't be
// shown (no desktop session, no notification service) is dropped with a debug line in the log.
//
// Ownership: the caller owns the notifier. Threads: any thread may call `notify`.
#pragma once

#include <string>

namespace zelto {

class DesktopNotifier {
 public:
  virtual ~DesktopNotifier() = default;
  virtual void notify(const std::string& title, const std::string& body) = 0;
};

}  // namespace zelto
