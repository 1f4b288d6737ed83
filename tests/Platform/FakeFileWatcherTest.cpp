#include <gtest/gtest.h>

#include "Platform/FakeFileWatcher.h"

namespace zelto {
namespace {

TEST(FakeFileWatcherTest, FiresOnlyLiveWatchesOfThePath) {
  FakeFileWatcher watcher;
  int a = 0, b = 0, other = 0;
  auto watchA = watcher.watch("/p", [&] { ++a; });
  auto watchB = watcher.watch("/p", [&] { ++b; });
  auto watchOther = watcher.watch("/q", [&] { ++other; });
  EXPECT_EQ(watcher.watchedPaths(), (std::vector<std::string>{"/p", "/p", "/q"}));

  EXPECT_EQ(watcher.fire("/p"), 2);
  watchA.reset();
  EXPECT_EQ(watcher.fire("/p"), 1);
  EXPECT_EQ(watcher.fire("/nothing"), 0);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(other, 0);
  EXPECT_EQ(watcher.watchedPaths(), (std::vector<std::string>{"/p", "/q"}));
  EXPECT_EQ(watcher.requestedPaths(), (std::vector<std::string>{"/p", "/p", "/q"}));
}

TEST(FakeFileWatcherTest, CallbacksMayCancelWatchesAndStartNewOnes) {
  FakeFileWatcher watcher;
  int first = 0, second = 0, added = 0;
  std::unique_ptr<Timer> watchSecond, watchAdded;
  auto watchFirst = watcher.watch("/p", [&] {
    ++first;
    watchSecond.reset();  // due in the same fire: must not be called any more
    watchAdded = watcher.watch("/p", [&] { ++added; });
  });
  watchSecond = watcher.watch("/p", [&] { ++second; });
  EXPECT_EQ(watcher.fire("/p"), 1);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(added, 0);  // began during the fire
}

TEST(FakeFileWatcherTest, HandlesMayOutliveTheWatcherAndEmptyCallbacksAreHarmless) {
  std::unique_ptr<Timer> handle;
  {
    FakeFileWatcher watcher;
    handle = watcher.watch("/p", nullptr);
    EXPECT_EQ(watcher.fire("/p"), 1);
  }
  handle->cancel();
  handle.reset();
}

}  // namespace
}  // namespace zelto
