// LibnotifyNotifier: DesktopNotifier through libnotify (the desktop's notification service on
// the session's D-Bus).
//
// libnotify is loaded at run time (dlopen) on first use, not linked: it brings GLib and D-Bus
// with it, which the program needs for nothing else, and the program must run where libnotify
// is not installed (a headless machine, a minimal desktop); there the notifications are simply
// dropped.
//
// Notifications go only where a session bus is: DBUS_SESSION_BUS_ADDRESS is set, or
// $XDG_RUNTIME_DIR/bus exists. Without one, GLib would try to start a bus of its own. libnotify's
// calls are synchronous D-Bus calls that a stuck bus holds for as long as D-Bus's own time-out
// (25 s), so they are made on the blocking calls' queue (DispatchQueue::blocking): `notify` only
// queues. At most `kMaxPending` notifications wait; more are dropped, so a dead bus can't pile
// them up. What is queued owns what it uses: destroying the notifier drops what still waits and
// returns at once, and a call in progress ends on that queue alone.
//
// Each notification may offer an action, shown as its default action (a click on it) where the
// notification service has actions at all. libnotify tells a click only through a GLib main
// loop, so while a notification offers its action such a loop runs on a thread of its own, which
// sleeps until the service says something and ends when the last such notification has closed
// or has offered its action for kActionOffered. The action runs on that thread, never the
// caller's; once the notifier is destroyed a click does nothing.
//
// Ownership: the caller owns the notifier. Threads: any thread may call `notify`.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Platform/DesktopNotifier.h"
#include "Platform/Status.h"

namespace zelto {

class LibnotifyNotifier : public DesktopNotifier {
 public:
  static constexpr size_t kMaxPending = 8;

  // Reads one environment variable; nothing when it is not set.
  using EnvironmentReader = std::function<std::optional<std::string>(const std::string&)>;
  // What a click on a notification does; none when `run` is empty.
  struct Action {
    std::string label;
    std::function<void()> run;
  };
  // Shows one notification, on the blocking calls' queue, offering `action` when it has one; the
  // reason when it can't be shown. The real one goes through libnotify; tests give their own.
  using Show = std::function<Status(const std::string& title, const std::string& body,
                                    const Action& action)>;
  static constexpr std::chrono::minutes kActionOffered{10};

  // `applicationName` is what the desktop shows as the sender; `action` is offered by every
  // notification. The process's environment.
  explicit LibnotifyNotifier(std::string applicationName, Action action = {});
  LibnotifyNotifier(EnvironmentReader environment, Show show, Action action = {});
  ~LibnotifyNotifier() override;
  LibnotifyNotifier(const LibnotifyNotifier&) = delete;
  LibnotifyNotifier& operator=(const LibnotifyNotifier&) = delete;

  void notify(const std::string& title, const std::string& body) override;

  // Whether the environment shows a session bus.
  bool hasSessionBus() const;

 private:
  struct Worker;

  EnvironmentReader environment_;
  Show show_;
  Action action_;
  std::mutex mutex_;
  std::shared_ptr<Worker> worker_;  // made on the first notification that can go out
};

}  // namespace zelto
