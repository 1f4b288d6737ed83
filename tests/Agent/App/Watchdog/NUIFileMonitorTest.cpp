#include <gtest/gtest.h>

#include "Agent/App/Watchdog/NUIFileMonitor.h"
#include "Support/FakeFileWatcher.h"

namespace zelto {
namespace {

TEST(NUIFileMonitorTest, WatchesThePathThroughTheWatcherUntilTheHandleGoes) {
  FakeFileWatcher watcher;
  int calls = 0;
  auto handle =
      NUIFileMonitor::watch(watcher, "/home/u/.config/zelto/default.cfg", [&] { ++calls; });
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(watcher.watchedPaths(),
            (std::vector<std::string>{"/home/u/.config/zelto/default.cfg"}));
  watcher.fire("/home/u/.config/zelto/default.cfg");
  watcher.fire("/home/u/.config/zelto/default.cfg");
  EXPECT_EQ(calls, 2);
  handle.reset();
  EXPECT_TRUE(watcher.watchedPaths().empty());
  watcher.fire("/home/u/.config/zelto/default.cfg");
  EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace zelto
