#include <gtest/gtest.h>

#include <vector>

#include "App/Controller/Helpers/Events/ErrorManager.h"
#include "App/Controller/Helpers/Events/EventTracker.h"
#include "Platform/NotificationCenter.h"
#include "Support/FakeAlert.h"
#include "Support/LogCapture.h"
#include "Support/TestEnv.h"

namespace zelto {
namespace {

using testing::FakeAlert;
using testing::LogCapture;
using testing::TestEnv;

// Records the events tracked and the two notifications posted on the test's own centre.
class ErrorManagerTest : public ::testing::Test {
 protected:
  ErrorManagerTest() {
    for (const char* name : {"ShowError", "ZeltoSendAppToBackground"}) {
      tokens_.push_back(NotificationCenter::defaultCenter().addObserver(
          name, [this](const Notification& n) { posted_.push_back(n); }));
    }
  }
  ~ErrorManagerTest() override {
    for (auto token : tokens_) NotificationCenter::defaultCenter().removeObserver(token);
  }

  std::vector<std::string> postedNames() const {
    std::vector<std::string> names;
    for (const auto& n : posted_) names.push_back(n.name);
    return names;
  }

  TestEnv env_;
  LogCapture log_;
  std::vector<std::pair<std::string, nlohmann::json>> events_;
  EventTracker::ScopedSink sink_{
      [this](const std::string& type, const nlohmann::json& p) { events_.emplace_back(type, p); }};
  std::vector<Notification> posted_;
  std::vector<NotificationCenter::Token> tokens_;
};

TEST_F(ErrorManagerTest, ShowErrorTracksAndAnnouncesWithTheFatalFlagAsBoolean) {
  FakeAlert alert;
  Alert::ScopedOverride useAlert(alert);

  ErrorManager::fatalError("disk on fire");
  ErrorManager::error("plain");
  ErrorManager::errorWithTitle("Sync failed", "no network");
  ErrorManager::errorWithTitle("Save failed", Status::failure("disk full"));

  const nlohmann::json fatalEvent = {
      {"error", "disk on fire"}, {"title", "An error occurred"}, {"fatal", true}};
  ASSERT_EQ(events_.size(), 4u);
  EXPECT_EQ(events_[0].first, "showError");
  EXPECT_EQ(events_[0].second, fatalEvent);  // a boolean never equals a number here
  EXPECT_EQ(events_[1].second["fatal"], false);
  EXPECT_EQ(events_[2].second["title"], "Sync failed");
  EXPECT_EQ(events_[3].second["error"], "disk full");
  EXPECT_TRUE(log_.has(spdlog::level::info,
                       "-> showError (error=disk on fire, fatal=1, title=An error occurred)"));

  EXPECT_EQ(postedNames(), std::vector<std::string>(4, "ShowError"));
  EXPECT_TRUE(alert.shown().empty());
}

TEST_F(ErrorManagerTest, ShowErrorOnWindowShowsAWarningAndSendsTheAppBackWhenItEnds) {
  FakeAlert alert;
  Alert::ScopedOverride useAlert(alert);
  int windowObject = 0;
  auto* window = reinterpret_cast<Alert::Window*>(&windowObject);

  ErrorManager::showErrorOnWindow(window, "Import failed", "bad file");
  ErrorManager::showErrorOnWindow(nullptr, "no window");

  const nlohmann::json event = {
      {"error", "bad file"}, {"title", "Import failed"}, {"fatal", 0}, {"preferences", 1}};
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_EQ(events_[0].first, "showError");
  EXPECT_EQ(events_[0].second, event);
  EXPECT_TRUE(events_[0].second["fatal"].is_number_integer());
  EXPECT_EQ(events_[1].second["title"], "An error occurred");
  EXPECT_TRUE(
      log_.has(spdlog::level::info,
               "-> showError (error=bad file, fatal=0, preferences=1, title=Import failed)"));

  ASSERT_EQ(alert.shown().size(), 2u);
  const auto& shown = alert.shown()[0];
  EXPECT_EQ(shown.window, window);
  EXPECT_EQ(shown.content.messageText, "Import failed");
  EXPECT_EQ(shown.content.informativeText, "bad file");
  EXPECT_EQ(shown.content.buttons, std::vector<std::string>{"Ok"});
  EXPECT_EQ(shown.content.style, Alert::Style::kWarning);
  EXPECT_EQ(alert.shown()[1].window, nullptr);
  EXPECT_EQ(alert.shown()[1].content.messageText, "An error occurred");

  EXPECT_TRUE(posted_.empty());  // nothing until an alert ends
  alert.end(0);
  EXPECT_EQ(postedNames(), std::vector<std::string>{"ZeltoSendAppToBackground"});
  alert.end(-1);
  EXPECT_EQ(postedNames(), std::vector<std::string>(2, "ZeltoSendAppToBackground"));
}

TEST_F(ErrorManagerTest, HeadlessAlertLogsAndEndsAtOnce) {
  ErrorManager::showErrorOnWindow(nullptr, "Import failed", "bad file");
  EXPECT_EQ(log_.countStartingWith("Alert: "), 1u);
  EXPECT_TRUE(log_.has(spdlog::level::warn, "Alert: Import failed: bad file"))
      << ::testing::PrintToString(log_.texts());
  EXPECT_EQ(postedNames(), std::vector<std::string>{"ZeltoSendAppToBackground"});
}

}  // namespace
}  // namespace zelto
