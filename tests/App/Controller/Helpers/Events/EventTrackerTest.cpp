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
  // Without properties (or with ones that are no dictionary) the type is logged alone and an
  // empty dictionary handed over.
  EventTracker::trackEvent("started");
  EventTracker::trackEvent("absent", nullptr);
  EventTracker::trackEvent("empty", nlohmann::json::object());
  EventTracker::trackEvent("list", nlohmann::json::array({1, 2}));

  EXPECT_EQ(log.texts(), (std::vector<std::string>{
                             "-> opened (count=3, name=Work, off=0, on=1, ratio=0.5, whole=2)",
                             "-> started", "-> absent", "-> empty", "-> list"}));
  for (const auto& line : log.lines()) EXPECT_EQ(line.level, spdlog::level::info) << line.text;
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[0].type, "opened");
  EXPECT_EQ(events[0].properties, properties);  // booleans stay booleans for the client
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].linesLoggedBefore, i + 1);
    if (i > 0) {
      EXPECT_EQ(events[i].properties, nlohmann::json::object()) << events[i].type;
    }
  }
}

}  // namespace
}  // namespace zelto
