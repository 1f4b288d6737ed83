#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

#include "Platform/Linux/LibnotifyNotifier.h"
#include "Support/ChildProcess.h"
#include "Support/LogCapture.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

using testing::eventually;
using testing::LogCapture;
using testing::TempDir;

// A notification service the test holds up until it lets go; it outlives the notifier.
struct Service : std::enable_shared_from_this<Service> {
  std::mutex mutex;
  std::condition_variable released;
  bool open = false;
  size_t entered = 0;
  std::vector<std::string> shown;

  LibnotifyNotifier::Show show() {
    return [self = shared_from_this()](const std::string& title, const std::string&,
                                       const LibnotifyNotifier::Action&) {
      std::unique_lock lock(self->mutex);
      ++self->entered;
      self->released.wait(lock, [&] { return self->open; });
      self->shown.push_back(title);
      return title == "refused" ? Status::failure("no service") : Status::success();
    };
  }
  void release() {
    std::lock_guard lock(mutex);
    open = true;
    released.notify_all();
  }
  size_t count() {
    std::lock_guard lock(mutex);
    return shown.size();
  }
  size_t inHand() {
    std::lock_guard lock(mutex);
    return entered - shown.size();
  }
};

LibnotifyNotifier::EnvironmentReader environment(std::map<std::string, std::string> variables) {
  return [variables](const std::string& name) -> std::optional<std::string> {
    auto it = variables.find(name);
    if (it == variables.end()) return std::nullopt;
    return it->second;
  };
}

// Nothing is shown until there is a session bus; a failure to show is then a debug line.
TEST(LibnotifyNotifierTest, WithoutASessionBusNothingIsShownAndAFailureToShowIsADebugLine) {
  LogCapture log;
  TempDir runtime;
  auto service = std::make_shared<Service>();
  service->release();
  LibnotifyNotifier notifier(environment({{"XDG_RUNTIME_DIR", runtime.path()}}), service->show());
  EXPECT_FALSE(notifier.hasSessionBus());
  notifier.notify("Blocking started", "until 17:00");
  EXPECT_TRUE(
      log.has(spdlog::level::debug, "Notification \"Blocking started\" not shown: no session bus"));
  EXPECT_FALSE(LibnotifyNotifier(environment({{"XDG_RUNTIME_DIR", "relative"}}), service->show())
                   .hasSessionBus());
  runtime.write("bus", "");
  EXPECT_TRUE(notifier.hasSessionBus());

  notifier.notify("shown", "body");
  notifier.notify("refused", "body");
  ASSERT_TRUE(eventually([&] {
    return log.has(spdlog::level::debug, "Notification \"refused\" not shown: no service");
  }));
  EXPECT_EQ(log.countStartingWith("Notification \"shown\""), 0u);
  std::lock_guard lock(service->mutex);
  EXPECT_EQ(service->shown, (std::vector<std::string>{"shown", "refused"}));
}

TEST(LibnotifyNotifierTest, AStuckServiceHoldsUpNeitherTheCallerNorTheNotifiersEnd) {
  LogCapture log;
  auto service = std::make_shared<Service>();
  {
    LibnotifyNotifier notifier(environment({{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/x"}}),
                               service->show());
    for (int i = 0; i < 20; ++i) notifier.notify("n" + std::to_string(i), "");
    // The worker holds at most one; kMaxPending wait; the rest are dropped.
    EXPECT_GE(log.count("Notification \"n19\" not shown: too many wait to be shown"), 1u);
    EXPECT_GE(log.countStartingWith("Notification \"n"), 20u - 1 - LibnotifyNotifier::kMaxPending);
    ASSERT_TRUE(eventually([&] { return service->inHand() == 1; }));
  }  // returns while the service is stuck
  service->release();
  ASSERT_TRUE(eventually([&] { return service->count() == 1; }));
  std::lock_guard lock(service->mutex);
  EXPECT_EQ(service->shown, std::vector<std::string>{"n0"});
}

// What a click does is offered with every notification, and does nothing once the notifier ends.
TEST(LibnotifyNotifierTest, EachNotificationOffersTheActionUntilTheNotifierEnds) {
  std::mutex mutex;
  std::vector<LibnotifyNotifier::Action> offered;
  auto show = [&](const std::string&, const std::string&, const LibnotifyNotifier::Action& action) {
    std::lock_guard lock(mutex);
    offered.push_back(action);
    return Status::success();
  };
  auto shown = [&](size_t count) {
    return eventually([&] {
      std::lock_guard lock(mutex);
      return offered.size() == count;
    });
  };
  const auto bus = environment({{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/x"}});
  int clicks = 0;
  {
    LibnotifyNotifier notifier(bus, show, {"Open Zelto", [&] { ++clicks; }});
    notifier.notify("started", "");
    ASSERT_TRUE(shown(1));
    EXPECT_EQ(offered[0].label, "Open Zelto");
    offered[0].run();
    EXPECT_EQ(clicks, 1);
  }
  offered[0].run();
  EXPECT_EQ(clicks, 1);

  LibnotifyNotifier plain(bus, show);
  plain.notify("ended", "");
  ASSERT_TRUE(shown(2));
  EXPECT_FALSE(offered[1].run);
}

}  // namespace
}  // namespace zelto
