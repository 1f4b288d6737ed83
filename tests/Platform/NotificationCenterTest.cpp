#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform/NotificationCenter.h"

namespace zelto {
namespace {

TEST(NotificationCenterTest, DeliversByNameInRegistrationOrderAndObserversMayPost) {
  NotificationCenter center;
  std::vector<std::string> calls;
  center.addObserver("changed", [&](const Notification& n) {
    calls.push_back("first " + std::any_cast<std::string>(n.object) + " " +
                    n.userInfo.value("key", ""));
    center.post("inner");
  });
  center.addObserver("inner", [&](const Notification&) { calls.push_back("inner"); });
  center.addObserver("changed",
                     [&](const Notification& n) { calls.push_back("second " + n.name); });
  center.post("changed", std::string("sender"), {{"key", "value"}});
  EXPECT_EQ(calls, (std::vector<std::string>{"first sender value", "inner", "second changed"}));
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
  EXPECT_EQ(calls, (std::vector<std::string>{"self", "later"}));
  calls.clear();
  center.removeObserver(self);  // a second removal is harmless
  center.post("n");
  EXPECT_EQ(calls, (std::vector<std::string>{"added"}));
}

}  // namespace
}  // namespace zelto
