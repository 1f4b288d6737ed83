#include <gtest/gtest.h>

#include <vector>

#include "App/Controller/Helpers/Events/EventTracker.h"
#include "Support/LogCapture.h"

namespace zelto {
namespace {

using testing::LogCapture;

struct Event {
  std::string type;
  nlohmann::json properties;
  size_t linesLoggedBefore;
};

TEST(EventTrackerTest, LogsOneLineThenHandsTheEventToTheSink) {
  LogCapture log;
  std::vector<Event> events;
  EventTracker::ScopedSink sink([&](const std::string& type, const nlohmann::json& properties) {
    events.push_back({type, properties, log.countStartingWith("-> ")});
  });

  nlohmann::json properties = {{"name", "Work"}, {"count", 3},   {"on", true},
                               {"off", false},   {"ratio", 0.5}, {"whole", 2.0}};
  EventTracker::trackEvent("opened", properties);

  EXPECT_TRUE(log.has(spdlog::level::info,
                      "-> opened (count=3, name=Work, off=0, on=1, ratio=0.5, whole=2)"))
      << ::testing::PrintToString(log.texts());
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, "opened");
  EXPECT_EQ(events[0].properties, properties);  // booleans stay booleans for the client
  EXPECT_EQ(events[0].linesLoggedBefore, 1u);
}

TEST(EventTrackerTest, NoPropertiesLogTheTypeAloneAndHandOverAnEmptyDictionary) {
  LogCapture log;
  std::vector<Event> events;
  EventTracker::ScopedSink sink([&](const std::string& type, const nlohmann::json& properties) {
    events.push_back({type, properties, 0});
  });

  EventTracker::trackEvent("started");
  EventTracker::trackEvent("absent", nullptr);
  EventTracker::trackEvent("empty", nlohmann::json::object());
  EventTracker::trackEvent("list", nlohmann::json::array({1, 2}));

  EXPECT_EQ(log.texts(),
            (std::vector<std::string>{"-> started", "-> absent", "-> empty", "-> list"}));
  ASSERT_EQ(events.size(), 4u);
  for (const Event& event : events) {
    EXPECT_TRUE(event.properties.is_object()) << event.type;
    EXPECT_TRUE(event.properties.empty()) << event.type;
  }
}

}  // namespace
}  // namespace zelto
