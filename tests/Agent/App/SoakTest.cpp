// Soak: the agent through many stops of the application and many rewrites of its
// configuration, keeping its descriptors and memory flat.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "Support/AgentUnderTest.h"

namespace zelto {
namespace {

using testing::AgentUnderTest;
using testing::eventually;

TEST(SoakTest, FiftyStopsAndAThousandRewrites) {
  constexpr int kStops = 50, kRewritesPerStop = 20, kWarmUp = 5;
  AgentUnderTest agent;
  agent.writeConfig(AgentUnderTest::timerRunning());
  agent.start();
  ASSERT_TRUE(eventually([&] { return agent.launchedPids().size() == 1; })) << agent.log();
  auto launchedAt = std::chrono::steady_clock::now();

  long warmMemory = 0;
  size_t warmDescriptors = 0;
  for (int stop = 1; stop <= kStops; ++stop) {
    // The rewrites fill the two seconds that must pass between launches, so that each stop is
    // answered at once rather than by the re-check of a skipped launch.
    for (int i = 0; i < kRewritesPerStop; ++i) {
      agent.writeConfig(AgentUnderTest::timerRunning());
      std::this_thread::sleep_until(launchedAt +
                                    std::chrono::milliseconds(2200) * (i + 1) / kRewritesPerStop);
    }
    ASSERT_TRUE(agent.killStandInAndAwaitRelaunch()) << "stop " << stop << "\n" << agent.log();
    launchedAt = std::chrono::steady_clock::now();

    // Now and then blocking goes off and on again: the latest file is what counts.
    if (stop % 10 == 0) {
      agent.writeConfig("{}");
      const size_t launches = agent.launchedPids().size();
      const size_t idle = agent.count("Zelto doesn't need launching");
      ::kill(agent.launchedPids().back(), SIGKILL);
      ASSERT_TRUE(eventually([&] { return agent.count("Zelto doesn't need launching") > idle; }));
      EXPECT_EQ(agent.launchedPids().size(), launches);
      agent.writeConfig(AgentUnderTest::timerRunning());
      ASSERT_TRUE(eventually([&] { return agent.launchedPids().size() > launches; }));
      launchedAt = std::chrono::steady_clock::now();
    }
    if (stop == kWarmUp) {
      warmMemory = agent.memoryKilobytes();
      warmDescriptors = agent.openDescriptors();
    }
  }
  const long endMemory = agent.memoryKilobytes();
  const size_t endDescriptors = agent.openDescriptors();
  std::printf("resident memory: %ld kB after warm-up, %ld kB at the end; descriptors: %zu, %zu\n",
              warmMemory, endMemory, warmDescriptors, endDescriptors);
  // A descriptor kept per stop would add one for each stop after the warm-up; a reading taken
  // while a launch or a read is under way may hold a few passing ones.
  EXPECT_LE(endDescriptors, warmDescriptors + 5);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // Sanitizers hold freed memory back on purpose (ASan's quarantine), so memory is judged in
  // the plain build only.
  EXPECT_LT(endMemory - warmMemory, 1024);
#endif
  EXPECT_TRUE(agent.process().running());
}

}  // namespace
}  // namespace zelto
