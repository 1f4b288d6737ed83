#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Platform/NotificationCenter.h"

namespace zelto {
namespace {

using ::testing::ElementsAre;

TEST(NotificationCenterTest, DeliversByNameInRegistrationOrder) {
  NotificationCenter center;
  std::vector<std::string> calls;
  center.addObserver("changed", [&](const Notification& n) {
    calls.push_back("first " + n.name + " " + std::any_cast<std::string>(n.object) + " " +
                    n.userInfo.value("key", ""));
  });
  center.addObserver("other", [&](const Notification&) { calls.push_back("other"); });
  center.addObserver("changed", [&](const Notification& n) {
    calls.push_back("second " + std::to_string(n.userInfo.size()));
  });

  center.post("changed", std::string("sender"), {{"key", "value"}});
  EXPECT_THAT(calls, ElementsAre("first changed sender value", "second 1"));
  calls.clear();
  center.post("nobody listens");
  EXPECT_THAT(calls, ElementsAre());
}

TEST(NotificationCenterTest, RemovedObserversAreNotCalled) {
  NotificationCenter center;
  int a = 0, b = 0;
  auto tokenA = center.addObserver("n", [&](const Notification&) { ++a; });
  center.addObserver("n", [&](const Notification&) { ++b; });
  center.post("n");
  center.removeObserver(tokenA);
  center.removeObserver(tokenA);         // twice is harmless
  center.removeObserver(tokenA + 1000);  // so is an unknown token
  center.post("n");
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
}

TEST(NotificationCenterTest, ObserversMayChangeRegistrationsDuringDelivery) {
  NotificationCenter center;
  std::vector<std::string> calls;
  NotificationCenter::Token self = 0, later = 0;
  self = center.addObserver("n", [&](const Notification&) {
    calls.push_back("self");
    center.removeObserver(self);   // destroys this very observer's registration
    center.removeObserver(later);  // takes effect only from the next post
    center.addObserver("n", [&](const Notification&) { calls.push_back("added"); });
  });
  later = center.addObserver("n", [&](const Notification&) { calls.push_back("later"); });

  center.post("n");
  EXPECT_THAT(calls, ElementsAre("self", "later"));
  calls.clear();
  center.post("n");
  EXPECT_THAT(calls, ElementsAre("added"));
}

TEST(NotificationCenterTest, ObserversMayPostFromTheirCallback) {
  NotificationCenter center;
  std::vector<std::string> calls;
  center.addObserver("outer", [&](const Notification&) {
    calls.push_back("outer");
    center.post("inner", {}, {{"depth", 1}});
  });
  center.addObserver("inner", [&](const Notification& n) {
    calls.push_back("inner " + n.userInfo["depth"].dump());
  });
  center.post("outer");
  EXPECT_THAT(calls, ElementsAre("outer", "inner 1"));
}

TEST(NotificationCenterTest, PostsFromManyThreadsWhileObserversComeAndGo) {
  NotificationCenter center;
  std::atomic<int> delivered{0};
  center.addObserver("tick", [&](const Notification&) { delivered.fetch_add(1); });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) {
        auto token = center.addObserver("tick", [](const Notification&) {});
        center.post("tick");
        center.removeObserver(token);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(delivered.load(), 2000);
}

}  // namespace
}  // namespace zelto
