#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "App/Analytics/AmplitudeFixture.h"

namespace zelto {
namespace {

using AmplitudeTest = testing::AmplitudeFixture;
using json = nlohmann::json;

// The lines that refuse a call made without a key, or with an argument of the wrong type.
std::string noKey(const std::string& method) {
  return "ERROR: apiKey cannot be nil or empty, set apiKey with initializeApiKey: before calling " +
         method + ":";
}
std::string wrongType(const std::string& method, const std::string& expected,
                      const std::string& received) {
  return "ERROR: Invalid type argument to method " + method + ", expected " + expected +
         ", received " + received + ", ";
}

TEST_F(AmplitudeTest, WithoutAKeyEverythingIsRefusedWithItsLineAndNothingIsWritten) {
  Amplitude& amplitude = start();
  EXPECT_EQ(storedPropertyList(), json({{"max_id", 0}}));
  const std::string archiveBefore =
      fs_.readFile(archivePath(), FileSystem::kMaxResourceBytes).valueOr("");
  const int plistWrites = fs_.writes(plistPath()), archiveWrites = fs_.writes(archivePath());

  amplitude.initializeApiKey(nullptr);
  amplitude.initializeApiKey(42);
  amplitude.initializeApiKey("");
  amplitude.initializeApiKey(kKey, 7);
  amplitude.logEvent("opened");
  amplitude.logEvent("opened", {{"k", 1}});
  amplitude.logRevenue(2.5);
  amplitude.uploadEvents();
  settle();

  EXPECT_EQ(systemLog_.lines(),
            (std::vector<std::string>{"ERROR: apiKey cannot be nil in initializeApiKey:",
                                      wrongType("initializeApiKey:", "string", "number"),
                                      "ERROR: apiKey cannot be blank in initializeApiKey:",
                                      wrongType("initializeApiKey:", "string", "number"),
                                      noKey("logEvent"), noKey("logEvent"), noKey("logRevenue"),
                                      noKey("uploadEvents")}));
  EXPECT_FALSE(amplitude.apiKey());
  EXPECT_EQ(fs_.writes(plistPath()), plistWrites);
  EXPECT_EQ(fs_.writes(archivePath()), archiveWrites);
  EXPECT_EQ(fs_.readFile(archivePath(), FileSystem::kMaxResourceBytes).valueOr(""), archiveBefore);
  EXPECT_TRUE(queued().empty());
  EXPECT_EQ(http_.requestCount(), 0u);
}

TEST_F(AmplitudeTest, ArgumentsOfTheWrongTypeOrNestedTooDeeplyAreRefused) {
  Amplitude& amplitude = startWithKey();
  json deep = 1;
  for (int i = 0; i < Amplitude::kMaxPropertyDepth + 1; ++i) deep = json::array({deep});

  amplitude.logEvent(42);
  amplitude.logEvent("typed", json::array());
  amplitude.logEvent("typed", "text", nullptr, std::nullopt);
  amplitude.logRevenue("cheap");
  amplitude.setUserId(5);
  amplitude.setUserProperties(json::array());
  amplitude.logEvent("deep", {{"deep", deep}});
  settle();

  EXPECT_EQ(
      systemLog_.lines(),
      (std::vector<std::string>{
          wrongType("logEvent", "string", "number"),
          wrongType("logEvent:withEventProperties:", "object", "array"),
          wrongType("logEvent:withEventProperties:apiProperties:withTimestamp:", "object",
                    "string"),
          wrongType("logRevenue:", "number", "string"), wrongType("setUserId:", "string", "number"),
          wrongType("setUserProperties:", "object", "array"),
          "ERROR: Event deep not logged: its properties are nested more than 100 levels deep"}));
  EXPECT_TRUE(queued().empty());
  EXPECT_FALSE(amplitude.userId());
  EXPECT_TRUE(amplitude.userProperties().is_null());
}

TEST_F(AmplitudeTest, EventsAreNumberedInBothFilesAcrossRunsAndCarryTheirFields) {
  Amplitude& amplitude = startWithKey();
  const int64_t loggedAt = nowMillis();
  amplitude.logEvent("first", {{"screen", "main"}});
  amplitude.logEvent("second");
  amplitude.logRevenue("pro", 2, 9.5, std::string("\x01\x02receipt!", 10));
  settle();

  json events = queued();
  ASSERT_EQ(events.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(events[i]["event_id"], i + 1);
    EXPECT_EQ(events[i]["api_properties"]["max_id"], i + 1);
  }
  const json& first = events[0];
  EXPECT_EQ(first["event_type"], "first");
  EXPECT_EQ(first["event_properties"], json({{"screen", "main"}}));
  EXPECT_EQ(first["user_properties"], json::object());
  EXPECT_EQ(first["timestamp"], loggedAt);
  EXPECT_EQ(first["device_id"], amplitude.getDeviceId());
  EXPECT_EQ(first["session_id"], -1);
  EXPECT_EQ(first["platform"], "OSX");
  EXPECT_EQ(first["os_name"], "OSX");
  EXPECT_EQ(first["device_manufacturer"], "Apple");
  EXPECT_EQ(first["library"], json({{"name", "amplitude-ios"}, {"version", "2.4.0"}}));
  EXPECT_FALSE(first.contains("user_id"));
  EXPECT_EQ(events[1]["event_properties"], json::object());
  EXPECT_EQ(events[2]["event_type"], "revenue_amount");
  EXPECT_EQ(events[2]["api_properties"], json({{"special", "revenue_amount"},
                                               {"productId", "pro"},
                                               {"quantity", 2},
                                               {"price", 9.5},
                                               {"receipt", "AQJyZWNlaXB0IQ=="},
                                               {"max_id", 3}}));
  EXPECT_EQ(amplitude.eventsData()["max_id"], 3);
  EXPECT_EQ(storedPropertyList(), json({{"max_id", 3}}));
  EXPECT_EQ(fs_.inspect(plistPath())->permissions, FileSystem::kPrivateFileMode);
  EXPECT_EQ(fs_.inspect(archivePath())->permissions, FileSystem::kPrivateFileMode);

  // Going away saves the queue; the next run reads it and goes on counting.
  const std::string deviceId = amplitude.getDeviceId();
  start();
  EXPECT_EQ(storedArchive()["max_id"], 3);
  amplitude_->initializeApiKey(kKey, nullptr, false);
  amplitude_->logEvent("third");
  settle();
  EXPECT_EQ(queued().size(), 4u);
  EXPECT_EQ(queued()[3]["event_id"], 4);
  EXPECT_EQ(queued()[3]["device_id"], deviceId);
  EXPECT_EQ(storedPropertyList(), json({{"max_id", 4}}));
}

TEST_F(AmplitudeTest, ThirtyEventsUploadAtOnceAndFewerAskForOneDeferredUpload) {
  startWithKey();
  // Only the first ask counts while the deferred upload waits: it goes 30 seconds after it.
  logEvents(1);
  advance(20);
  logEvents(1);
  EXPECT_EQ(loop_.scheduledTimers(), 1u);
  advance(Amplitude::kUploadDelaySeconds - 20);
  ASSERT_TRUE(http_.waitForRequests(1));
  EXPECT_EQ(uploadedEvents(http_.request(0)).size(), 2u);
  http_.answer(testing::FakeHttpClient::status(200, "success"));
  settle();
  EXPECT_TRUE(queued().empty());

  logEvents(29);
  EXPECT_EQ(http_.requestCount(), 1u);
  logEvents(1);
  ASSERT_TRUE(http_.waitForRequests(2));
  EXPECT_EQ(uploadedEvents(http_.request(1)).size(), 30u);
  advance(Amplitude::kUploadDelaySeconds);  // the deferred one finds the upload in flight
  EXPECT_EQ(http_.requestCount(), 2u);
}

TEST_F(AmplitudeTest, TheQueueSavesEveryTwentyEventsAndKeepsAtMostAThousand) {
  startWithKey();
  const int initialWrites = fs_.writes(archivePath());
  logEvents(19);
  EXPECT_EQ(fs_.writes(archivePath()), initialWrites);
  logEvents(1);
  EXPECT_EQ(fs_.writes(archivePath()), initialWrites + 1);
  EXPECT_EQ(storedArchive()["events"].size(), 20u);

  // The upload of the first 30 stays unanswered while the queue fills up.
  logEvents(979);
  ASSERT_TRUE(http_.waitForRequests(1));
  EXPECT_EQ(queued().size(), 999u);
  EXPECT_EQ(fs_.writes(archivePath()), initialWrites + 49);
  logEvents(1);
  json events = queued();
  ASSERT_EQ(events.size(), 980u);
  EXPECT_EQ(events.front()["event_id"], 21);
  EXPECT_EQ(events.back()["event_id"], 1000);
  EXPECT_EQ(storedArchive()["events"].size(), 980u);

  // Its answer removes just the ten of its events that are still queued, and the rest is sent
  // at once, all of it.
  http_.answer(testing::FakeHttpClient::status(200, "success"));
  settle();
  events = queued();
  ASSERT_EQ(events.size(), 970u);
  EXPECT_EQ(events.front()["event_id"], 31);
  ASSERT_TRUE(http_.waitForRequests(2));
  EXPECT_EQ(uploadedEvents(http_.request(1)).size(), 970u);
  EXPECT_EQ(storedArchive()["events"].size(), 970u);
}

TEST_F(AmplitudeTest, AStoredDeviceIdThatMarksAnUnusableIdIsReplacedAndSavedAtOnce) {
  for (std::string stored : {"e3f5536a141811db40efd6400f1d0a4e", "04bab7ee75b9a58d39b8dc54e8851084",
                             "", "kept-device"}) {
    SCOPED_TRACE(stored);
    stop();
    put(archivePath(),
        json({{"events", json::array()}, {"max_id", 0}, {"device_id", stored}}).dump());
    Amplitude& amplitude = start();
    const std::string id = amplitude.getDeviceId();
    if (stored == "kept-device") {
      EXPECT_EQ(id, stored);
    } else {
      EXPECT_NE(id, stored);
      EXPECT_EQ(id.size(), 37u);
      EXPECT_EQ(id.back(), 'R');
    }
    EXPECT_EQ(storedArchive()["device_id"], id);
  }
}

TEST_F(AmplitudeTest, SessionsBeginContinueWithinFifteenSecondsAndAreReplacedAfterThirtyMinutes) {
  Amplitude& amplitude = start();
  amplitude.initializeApiKey(kKey);  // enters the foreground
  settle();
  const int64_t first = nowMillis();
  EXPECT_EQ(amplitude.sessionId(), first);
  ASSERT_EQ(queued().size(), 1u);
  EXPECT_EQ(queued()[0]["event_type"], "session_start");
  EXPECT_EQ(queued()[0]["session_id"], first);
  EXPECT_EQ(queued()[0]["api_properties"]["special"], "session_start");

  // Resigning ends it; coming back 10 seconds after its last event continues it.
  advance(5);
  notifications_.post(Amplitude::kDidResignActiveNotification);
  settle();
  EXPECT_EQ(queued().back()["event_type"], "session_end");
  EXPECT_EQ(queued().back()["session_id"], first);
  advance(10);
  notifications_.post(Amplitude::kDidBecomeActiveNotification);
  settle();
  EXPECT_EQ(amplitude.sessionId(), first);
  EXPECT_EQ(queued().back()["event_type"], "session_start");
  EXPECT_EQ(queued().back()["session_id"], first);
  advance(60);  // the pending turn-off was cancelled by the start
  EXPECT_EQ(amplitude.sessionId(), first);

  // A running session whose last event is more than 30 minutes old is replaced, quietly.
  const size_t before = queued().size();
  advance(31 * 60);
  amplitude.startSession();
  settle();
  EXPECT_EQ(amplitude.sessionId(), nowMillis());
  EXPECT_EQ(queued().size(), before);
  EXPECT_EQ(amplitude.eventsData()["previous_session_id"], nowMillis());
}

TEST_F(AmplitudeTest, AnEndedSessionIsTurnedOffFifteenSecondsLater) {
  Amplitude& amplitude = start();
  amplitude.initializeApiKey(kKey);
  settle();
  const int64_t session = amplitude.sessionId();
  amplitude.endSession();
  const int64_t ended = nowMillis();
  advance(14.9);
  EXPECT_EQ(amplitude.sessionId(), session);
  advance(0.2);
  EXPECT_EQ(amplitude.sessionId(), -1);

  // Events outside a session carry -1 and leave the session's last time alone; the next start,
  // more than 15 seconds after that, begins a new session.
  amplitude.logEvent("outside");
  settle();
  EXPECT_EQ(queued().back()["session_id"], -1);
  EXPECT_EQ(amplitude.eventsData()["previous_session_time"], ended);
  amplitude.enterForeground();
  settle();
  EXPECT_EQ(amplitude.sessionId(), nowMillis());
  EXPECT_NE(amplitude.sessionId(), session);
}

TEST_F(AmplitudeTest, AnOptedOutClientLogsAndUploadsNothing) {
  Amplitude& amplitude = startWithKey();
  logEvents(2);
  amplitude.setOptOut(true);
  settle();
  EXPECT_TRUE(amplitude.optOut());
  EXPECT_EQ(storedArchive()["opt_out"], true);
  amplitude.logEvent("secret");
  amplitude.uploadEvents();
  settle();
  EXPECT_TRUE(
      log_.has(spdlog::level::info, "User has opted out of tracking. Event secret not logged."));
  EXPECT_EQ(queued().size(), 2u);
  EXPECT_EQ(http_.requestCount(), 0u);

  // The refused upload left no upload "in flight" behind.
  amplitude.setOptOut(false);
  amplitude.uploadEvents();
  ASSERT_TRUE(http_.waitForRequests(1));
  EXPECT_EQ(uploadedEvents(http_.request(0)).size(), 2u);
}

TEST_F(AmplitudeTest, UserIdIsKeptInTheStoreAndUserPropertiesMergeOrReplace) {
  Amplitude& amplitude = start();
  amplitude.initializeApiKey(kKey, "alice", false);
  amplitude.setUserProperties({{"plan", "free"}, {"seats", 1}});
  amplitude.setUserProperties({{"plan", "pro"}});
  amplitude.logEvent("merged");
  settle();
  EXPECT_EQ(queued()[0]["user_id"], "alice");
  EXPECT_EQ(queued()[0]["user_properties"], json({{"plan", "pro"}, {"seats", 1}}));
  EXPECT_EQ(storedArchive()["user_id"], "alice");
  amplitude.setUserProperties({{"team", true}}, /*replace=*/true);
  EXPECT_EQ(amplitude.userProperties(), json({{"team", true}}));

  start();
  amplitude_->initializeApiKey(kKey, nullptr, false);
  settle();
  EXPECT_EQ(amplitude_->userId(), "alice");
  amplitude_->setUserId("bob");
  settle();
  EXPECT_EQ(storedArchive()["user_id"], "bob");
}

TEST_F(AmplitudeTest, CorruptStoredFilesAreLoggedDeletedAndStartedAfresh) {
  std::string deep(100000, '[');
  std::string deepPlist = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (int i = 0; i < 4000; ++i) deepPlist += "<array>";
  for (int i = 0; i < 4000; ++i) deepPlist += "</array>";
  deepPlist += "</plist>";
  const std::vector<std::pair<std::string, std::string>> archives = {
      {"{\"events\": [", "not valid JSON text"},
      {"[]", "not a dictionary"},
      {R"({"events": {}, "max_id": 0})", "\"events\" is not an array"},
      {R"({"events": [1], "max_id": 1})", "an event is not a dictionary"},
      {R"({"events": [{"event_id": "7"}], "max_id": 7})", "an event's id is not an integer"},
      {R"({"events": [], "max_id": 1.5})", "\"max_id\" is not an integer"},
      {R"({"events": [], "max_id": 18446744073709551615})", "\"max_id\" is not an integer"},
      {R"({"events": [], "max_id": 0, "opt_out": "yes"})", "\"opt_out\" is not a boolean"},
      {"{\"events\": [], \"max_id\": 0, \"user_id\": \"\xff\"}", "not valid JSON text"},
      {"{\"events\": [{\"event_id\": 1, \"p\": " + deep + "}], \"max_id\": 1}",
       "nested more than 108 levels deep"},
  };
  for (const auto& [text, reason] : archives) {
    SCOPED_TRACE(text.substr(0, 60));
    stop();
    systemLog_.clear();
    put(archivePath(), text);
    start();
    EXPECT_TRUE(systemLog_.has("EXCEPTION: Corrupt file " + archivePath() + ": " + reason))
        << ::testing::PrintToString(systemLog_.lines());
    EXPECT_TRUE(queued().empty());
    EXPECT_EQ(storedArchive()["events"], json::array());
    EXPECT_EQ(storedArchive()["max_id"], 0);
  }

  const std::vector<std::pair<std::string, std::string>> plists = {
      {"garbage", "not a property list"},
      {PropertyList::toXML(json::array({1})).value(), "not a dictionary"},
      {PropertyList::toXML({{"max_id", "7"}}).value(), "\"max_id\" is not an integer"},
      {std::string(70000, ' '), "the file is too large (70000 bytes)"},
      {deepPlist, "not a property list"},  // deeper than any property list is read
  };
  for (const auto& [text, reason] : plists) {
    SCOPED_TRACE(text.substr(0, 60));
    stop();
    systemLog_.clear();
    put(plistPath(), text);
    start();
    EXPECT_EQ(systemLog_.lines(),
              std::vector<std::string>{"ERROR: propertyList deserialization error:" + reason});
    EXPECT_EQ(storedPropertyList(), json({{"max_id", 0}}));
  }

  // A corrupt file that can't be removed says so, and is replaced all the same.
  stop();
  systemLog_.clear();
  put(archivePath(), "[]");
  fs_.failRemovals(archivePath());
  startWithKey();
  EXPECT_EQ(systemLog_.countStartingWith("ERROR: Can't remove corrupt archiveDict file:"), 1u);
  logEvents(1);
  EXPECT_EQ(queued().size(), 1u);
}

TEST_F(AmplitudeTest, FilesLeftInTheCachesDirectoryAreMovedToTheLibrary) {
  const std::string oldArchive = caches() + "/com.amplitude.archiveDict";
  // A "max_id" behind the queued ids must not let a new event take a queued one's id.
  put(oldArchive, json({{"events", json::array({{{"event_id", 5}}})}, {"max_id", 2}}).dump());
  // Only the counter is kept of the property list: raw data can't be written back.
  put(caches() + "/com.amplitude.plist",
      "<plist version=\"1.0\"><dict><key>max_id</key><integer>5</integer>"
      "<key>blob</key><data>AAAA</data></dict></plist>");
  startWithKey();
  EXPECT_FALSE(fs_.exists(oldArchive));
  EXPECT_EQ(queued().size(), 1u);
  logEvents(1);
  EXPECT_EQ(queued()[1]["event_id"], 6);
  EXPECT_EQ(storedPropertyList(), json({{"max_id", 6}}));
}

TEST_F(AmplitudeTest, FailedSavesAreLoggedAndTheEventsStayQueued) {
  fs_.failWrites(plistPath());
  fs_.failWrites(archivePath());
  Amplitude& amplitude = startWithKey();
  EXPECT_TRUE(systemLog_.has("ERROR: Unable to save propertyList to file on initialization"));
  EXPECT_TRUE(systemLog_.has("ERROR: Unable to save eventsData to file on initialization"));
  systemLog_.clear();
  logEvents(20);
  EXPECT_EQ(systemLog_.count("ERROR: Unable to save propertyList to file"), 20u);
  EXPECT_EQ(systemLog_.count("Error: Unable to save propertyList to file"), 20u);
  EXPECT_EQ(systemLog_.count("ERROR: Unable to save eventsData to file"), 1u);
  EXPECT_EQ(queued().size(), 20u);
  amplitude.printEventsCount();
  EXPECT_TRUE(log_.has(spdlog::level::info, "Events count:20"));
}

TEST_F(AmplitudeTest, NoCallerWaitsForTheClientsQueue) {
  Amplitude& amplitude = startWithKey();
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  amplitude.runOnBackgroundQueue([released] { released.wait(); });

  auto calls = std::async(std::launch::async, [&] {
    amplitude.logEvent("waiting", {{"k", 1}});
    amplitude.logRevenue(1.0);
    amplitude.setUserId("carol");
    amplitude.setOptOut(false);
    amplitude.setUserProperties({{"a", 1}});
    amplitude.enterForeground();
    amplitude.enterBackground();
    amplitude.uploadEvents();
    amplitude.printEventsCount();
    (void)amplitude.optOut();
    (void)amplitude.getDeviceId();
  });
  const bool returned = calls.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  release.set_value();
  EXPECT_TRUE(returned);
  calls.wait();
  settle();
  EXPECT_EQ(amplitude.userId(), "carol");
}

TEST_F(AmplitudeTest, GoingAwayRunsWhatWasQueuedSavesItAndDropsALateAnswer) {
  startWithKey();
  logEvents(30);
  ASSERT_TRUE(http_.waitForRequests(1));
  http_.answer(testing::FakeHttpClient::status(200, "success"));
  settle();

  // Events still queued when the client goes away are logged (the thirtieth starts an upload)
  // and saved; the upload's answer comes too late to matter.
  std::promise<void> release;
  amplitude_->runOnBackgroundQueue([held = release.get_future().share()] { held.wait(); });
  for (int i = 0; i < 200; ++i) amplitude_->logEvent("late");
  release.set_value();
  stop();
  notifications_.post(Amplitude::kDidBecomeActiveNotification);  // nobody listens any more
  ASSERT_TRUE(http_.waitForRequests(2));
  http_.answer(testing::FakeHttpClient::status(200, "success"));
  EXPECT_EQ(storedArchive()["events"].size(), 200u);
  start();
  EXPECT_EQ(queued().size(), 200u);
}

}  // namespace
}  // namespace zelto
