#include <gtest/gtest.h>

#include <filesystem>

#include "Platform/ClockChangeWatcher.h"
#include "Platform/Linux/UvRunLoop.h"

namespace zelto {
namespace {

size_t openDescriptors() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

TEST(ClockChangeWatcherTest, AWatchHoldsOneDescriptorUntilDestroyed) {
  UvRunLoop loop;
  const size_t before = openDescriptors();
  auto watch = ClockChangeWatcher::watch(loop, [] {});
  ASSERT_TRUE(watch.ok()) << watch.status().message();
  EXPECT_EQ(openDescriptors(), before + 1);
  watch->reset();
  EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
}  // namespace zelto
