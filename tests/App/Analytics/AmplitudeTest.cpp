// The analytics client on simulated time (FakeClock, FakeRunLoop), a file system with faults to
// order under a temporary home, a fake HTTP client the test answers, and the system-log and log
// lines captured; and the device facts it reports.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "App/Analytics/AMPDeviceInfo.h"
#include "App/Analytics/Amplitude.h"
#include "Platform/Directories.h"
#include "Platform/NotificationCenter.h"
#include "Platform/PropertyList.h"
#include "Platform/Url.h"
#include "Support/FakeClock.h"
#include "Support/FakeHttpClient.h"
#include "Support/FakeRunLoop.h"
#include "Support/FaultyFileSystem.h"
#include "Support/LogCapture.h"
#include "Support/SystemLogCapture.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

using json = nlohmann::json;
using testing::FakeHttpClient;
using testing::FaultyFileSystem;
using testing::LogCapture;
using testing::SystemLogCapture;
using testing::TempDir;
using Code = HttpResponse::ErrorCode;

class AmplitudeTest : public ::testing::Test {
 protected:
  static constexpr const char* kKey = "0123456789abcdef";

  ~AmplitudeTest() override { amplitude_.reset(); }

  std::string library() const { return home_ / ".local/share/Zelto/Library"; }
  std::string caches() const { return home_ / ".cache/Zelto"; }
  std::string archivePath() const { return library() + "/com.amplitude.archiveDict"; }
  std::string plistPath() const { return library() + "/com.amplitude.plist"; }
  // Writes a file as another program would (its directories made, the write not counted).
  void put(const std::string& path, const std::string& contents) const {
    home_.write(path.substr(home_.path().size() + 1), contents);
  }

  // A new client; the one before (if any) goes first, saving its store.
  Amplitude& start() {
    amplitude_.reset();
    amplitude_ = std::make_unique<Amplitude>(loop_, http_, clock_, fs_, directories_,
                                             notifications_, "http://upload.test/");
    settle();
    return *amplitude_;
  }
  // A started client with a key, without a session.
  Amplitude& startWithKey() {
    start().initializeApiKey(kKey, nullptr, false);
    settle();
    return *amplitude_;
  }
  void stop() { amplitude_.reset(); }

  // Waits until the client's queue has run everything given to it so far.
  // The bound is generous: a thousand events are a thousand synced writes, slow on a busy disk.
  // The promise is shared so that a queue still running after a failed wait sets a live one.
  void drain() {
    auto done = std::make_shared<std::promise<void>>();
    amplitude_->runOnBackgroundQueue([done] { done->set_value(); });
    ASSERT_EQ(done->get_future().wait_for(std::chrono::seconds(120)), std::future_status::ready);
  }
  // Runs what the client handed to its queue and to the main loop, back and forth, until both
  // are quiet (the loop's timers that are due included; time does not move).
  void settle() {
    for (int i = 0; i < 4; ++i) {
      drain();
      loop_.runUntilIdle();
    }
  }
  // Moves simulated time on, firing the timers on the way, and lets the work they start run.
  void advance(double seconds) {
    settle();
    loop_.advance(seconds);
    settle();
  }

  void logEvents(int count, const std::string& type = "event") {
    for (int i = 0; i < count; ++i) amplitude_->logEvent(type);
    settle();
  }
  json queued() { return amplitude_->eventsData()["events"]; }
  json storedArchive() {
    return json::parse(fs_.readFile(archivePath(), FileSystem::kMaxResourceBytes).valueOr("null"));
  }
  json storedPropertyList() {
    return PropertyList::parse(fs_.readFile(plistPath(), FileSystem::kMaxResourceBytes).valueOr(""))
        .value_or(nullptr);
  }
  int64_t nowMillis() const {
    return static_cast<int64_t>(clock_.now().secondsSince1970() * 1000.0);
  }
  // The events of an upload request, from its "e=" field.
  static json uploadedEvents(const HttpRequest& request) {
    const std::string& body = request.body;
    const size_t begin = body.find("&e=") + 3;
    const size_t end = body.find("&upload_time=");
    return json::parse(Url::percentDecode(body.substr(begin, end - begin)));
  }

  TempDir home_;
  FaultyFileSystem fs_;
  Directories directories_{fs_,
                           [this](const std::string& name) -> std::optional<std::string> {
                             if (name == "HOME") return home_.path();
                             return std::nullopt;
                           },
                           [] { return std::optional<std::string>(); }};
  FakeClock clock_;
  FakeRunLoop loop_{clock_};
  FakeHttpClient http_;
  NotificationCenter notifications_;
  SystemLogCapture systemLog_;
  LogCapture log_;
  std::unique_ptr<Amplitude> amplitude_;
};

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
  const int plistWrites = fs_.writes(plistPath()), archiveWrites = fs_.writes(archivePath());

  amplitude.initializeApiKey(nullptr);
  amplitude.initializeApiKey(42);
  amplitude.initializeApiKey("");
  amplitude.initializeApiKey(kKey, 7);
  amplitude.logEvent("opened");
  amplitude.logEvent("opened", {{"k", 1}});
  amplitude.uploadEvents();
  settle();

  EXPECT_EQ(systemLog_.lines(), (std::vector<std::string>{
                                    "ERROR: apiKey cannot be nil in initializeApiKey:",
                                    wrongType("initializeApiKey:", "string", "number"),
                                    "ERROR: apiKey cannot be blank in initializeApiKey:",
                                    wrongType("initializeApiKey:", "string", "number"),
                                    noKey("logEvent"), noKey("logEvent"), noKey("uploadEvents")}));
  EXPECT_FALSE(amplitude.apiKey());
  EXPECT_EQ(fs_.writes(plistPath()), plistWrites);
  EXPECT_EQ(fs_.writes(archivePath()), archiveWrites);
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
  amplitude.logEvent("deep", {{"deep", deep}});
  settle();

  EXPECT_EQ(
      systemLog_.lines(),
      (std::vector<std::string>{
          wrongType("logEvent", "string", "number"),
          wrongType("logEvent:withEventProperties:", "object", "array"),
          wrongType("logEvent:withEventProperties:apiProperties:withTimestamp:", "object",
                    "string"),
          "ERROR: Event deep not logged: its properties are nested more than 100 levels deep"}));
  EXPECT_TRUE(queued().empty());
}

TEST_F(AmplitudeTest, EventsAreNumberedInBothFilesAcrossRunsAndCarryTheirFields) {
  Amplitude& amplitude = startWithKey();
  const int64_t loggedAt = nowMillis();
  amplitude.logEvent("first", {{"screen", "main"}});
  amplitude.logEvent("second");
  settle();

  json events = queued();
  ASSERT_EQ(events.size(), 2u);
  for (int i = 0; i < 2; ++i) {
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
  EXPECT_FALSE(first.contains("user_id"));
  EXPECT_EQ(events[1]["event_properties"], json::object());
  EXPECT_EQ(amplitude.eventsData()["max_id"], 2);
  EXPECT_EQ(storedPropertyList(), json({{"max_id", 2}}));
  EXPECT_EQ(fs_.inspect(plistPath())->permissions, FileSystem::kPrivateFileMode);
  EXPECT_EQ(fs_.inspect(archivePath())->permissions, FileSystem::kPrivateFileMode);

  // Going away saves the queue; the next run reads it and goes on counting.
  const std::string deviceId = amplitude.getDeviceId();
  stop();
  EXPECT_EQ(storedArchive()["max_id"], 2);
  startWithKey();
  logEvents(1, "third");
  EXPECT_EQ(queued().size(), 3u);
  EXPECT_EQ(queued()[2]["event_id"], 3);
  EXPECT_EQ(queued()[2]["device_id"], deviceId);
  EXPECT_EQ(storedPropertyList(), json({{"max_id", 3}}));
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
  http_.answer(FakeHttpClient::status(200, "success"));
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
  http_.answer(FakeHttpClient::status(200, "success"));
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
      EXPECT_NE(id, stored);  // a new one (its form: AMPDeviceInfoUUIDTest)
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
  startWithKey();
  EXPECT_TRUE(systemLog_.has("ERROR: Unable to save propertyList to file on initialization"));
  EXPECT_TRUE(systemLog_.has("ERROR: Unable to save eventsData to file on initialization"));
  systemLog_.clear();
  logEvents(20);
  EXPECT_EQ(systemLog_.count("ERROR: Unable to save propertyList to file"), 20u);
  EXPECT_EQ(systemLog_.count("Error: Unable to save propertyList to file"), 20u);
  EXPECT_EQ(systemLog_.count("ERROR: Unable to save eventsData to file"), 1u);
  EXPECT_EQ(queued().size(), 20u);
}

TEST_F(AmplitudeTest, NoCallerWaitsForTheClientsQueue) {
  Amplitude& amplitude = startWithKey();
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  amplitude.runOnBackgroundQueue([released] { released.wait(); });

  auto calls = std::async(std::launch::async, [&] {
    amplitude.logEvent("waiting", {{"k", 1}});
    amplitude.enterForeground();
    amplitude.enterBackground();
    amplitude.uploadEvents();
    (void)amplitude.getDeviceId();
  });
  const bool returned = calls.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  release.set_value();
  EXPECT_TRUE(returned);
  calls.wait();
  settle();
  EXPECT_EQ(queued()[0]["event_type"], "waiting");
}

TEST_F(AmplitudeTest, GoingAwayRunsWhatWasQueuedSavesItAndDropsALateAnswer) {
  startWithKey();
  logEvents(30);
  ASSERT_TRUE(http_.waitForRequests(1));
  http_.answer(FakeHttpClient::status(200, "success"));
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
  http_.answer(FakeHttpClient::status(200, "success"));
  EXPECT_EQ(storedArchive()["events"].size(), 200u);
  start();
  EXPECT_EQ(queued().size(), 200u);
}

TEST_F(AmplitudeTest, OnlySuccessRemovesTheBatchAndEveryOtherAnswerKeepsIt) {
  Amplitude& amplitude = startWithKey();
  logEvents(3);
  const std::vector<std::pair<HttpResponse, std::string>> answers = {
      {FakeHttpClient::status(500, "oops"), "ERROR: Connection response received:500, oops"},
      {FakeHttpClient::status(200, "invalid_api_key"),
       "ERROR: Invalid API Key, make sure your API key is correct in initializeApiKey:"},
      {FakeHttpClient::status(200, "bad_checksum"),
       "ERROR: Bad checksum, post request was mangled in transit, will attempt to reupload later"},
      {FakeHttpClient::status(200, "request_db_write_failed"),
       "ERROR: Couldn't write to request database on server, will attempt to reupload later"},
      {FakeHttpClient::status(200, "busy"), "ERROR: busy, will attempt to reupload later"},
      {FakeHttpClient::failure(Code::kOther, "SSL certificate problem"),
       "ERROR: Connection error:SSL certificate problem"},
      {HttpResponse{}, "ERROR: response empty, error empty for NSURLConnection"},
      {FakeHttpClient::failure(Code::kNotConnected), ""},
      {FakeHttpClient::failure(Code::kHostNotFound), ""},
      {FakeHttpClient::failure(Code::kTimedOut), ""},
  };
  size_t sent = 0;
  for (const auto& [answer, line] : answers) {
    SCOPED_TRACE(line);
    systemLog_.clear();
    amplitude.uploadEvents();
    ASSERT_TRUE(http_.waitForRequests(++sent));
    const HttpRequest request = http_.request(sent - 1);
    EXPECT_EQ(uploadedEvents(request).size(), 3u);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.url, "http://upload.test/");
    EXPECT_EQ(request.timeoutSeconds, 60);
    const int saves = fs_.writes(archivePath());
    http_.answer(answer);
    settle();
    EXPECT_EQ(systemLog_.lines(),
              line.empty() ? std::vector<std::string>{} : std::vector<std::string>{line});
    EXPECT_EQ(queued().size(), 3u);
    EXPECT_EQ(fs_.writes(archivePath()), saves + 1);
  }
  // (Success: ThirtyEventsUploadAtOnce..., QueuedEventsGoUpInTwoBatches...)
}

TEST_F(AmplitudeTest, ValuesJSONCannotHoldAreSentAsNullOrReadableText) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double infinity = std::numeric_limits<double>::infinity();
  json properties = {{"nan", nan},     {"up", infinity},   {"down", -infinity},
                     {"fine", 1.5},    {"list", {nan, 2}}, {"text", "caf\xc3\xa9"},
                     {"bad", "a\xff"}, {"k\xfe", true},    {"raw", json::binary({1, 2})}};
  EXPECT_EQ(Amplitude::makeJSONSerializable(properties), json({{"nan", nullptr},
                                                               {"up", nullptr},
                                                               {"down", nullptr},
                                                               {"fine", 1.5},
                                                               {"list", {nullptr, 2}},
                                                               {"text", "caf\xc3\xa9"},
                                                               {"bad", "a\xef\xbf\xbd"},
                                                               {"k\xef\xbf\xbd", true},
                                                               {"raw", "<0102>"}}));
  EXPECT_EQ(systemLog_.lines(),
            (std::vector<std::string>{
                "WARNING: Invalid property value type, received non-UTF-8 string, coercing to "
                "a\xef\xbf\xbd",
                "WARNING: Non-string property key, received non-UTF-8 string, coercing to "
                "k\xef\xbf\xbd",
                "WARNING: Invalid property value type, received binary, coercing to <0102>"}));

  // Such values in queued events neither break the saved store nor the upload.
  Amplitude& amplitude = startWithKey();
  amplitude.logEvent("odd\xff", properties);
  amplitude.enterBackground();
  ASSERT_TRUE(http_.waitForRequests(1));
  settle();
  json sent = uploadedEvents(http_.request(0));
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0]["event_type"], "odd\xef\xbf\xbd");
  EXPECT_EQ(sent[0]["event_properties"]["nan"], nullptr);
  EXPECT_EQ(sent[0]["event_properties"]["k\xef\xbf\xbd"], true);
  EXPECT_EQ(sent[1]["event_type"], "session_end");
  json stored = storedArchive();
  EXPECT_EQ(stored["events"].size(), 2u);
  EXPECT_EQ(stored["events"][0]["event_properties"]["up"], nullptr);
}

// 250 stored events go up in two requests: the first 100, then, after "success", the remaining
// 150 at once. (CurlHttpClientTest sends such requests to a real server.)
TEST_F(AmplitudeTest, QueuedEventsGoUpInTwoBatchesWithTheirChecksum) {
  const std::string key = "Key:1/2";  // sent as it is, though it holds reserved characters
  const std::string awkward = ":/?#[]@!$ &'()*+,;=\"<>%{}|\\^~`\xc3\xa9";
  json events = json::array();
  for (int id = 1; id <= 250; ++id) {
    events.push_back(
        {{"event_id", id}, {"event_type", "e"}, {"event_properties", {{"s", awkward}}}});
  }
  put(archivePath(), json({{"events", events}, {"max_id", 250}, {"device_id", "D"}}).dump());
  start().initializeApiKey(key, nullptr, false);
  amplitude_->uploadEvents();

  // MD5 of "2", the key, the batch's JSON and the upload time, worked out apart from this code
  // (md5sum over the text each batch must be).
  const std::string checksums[] = {"1561ad06c6f087cd1b13de31ce5b23dd",
                                   "a58d799e760b4850bb83f447552142c2"};
  int64_t nextId = 1;
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(http_.waitForRequests(i + 1));
    const HttpRequest upload = http_.request(i);
    EXPECT_EQ(upload.headers, (std::vector<std::pair<std::string, std::string>>{
                                  {"Content-Type", "application/x-www-form-urlencoded"},
                                  {"Content-Length", std::to_string(upload.body.size())}}));

    const std::string head = "v=2&client=" + key + "&e=";
    const std::string tail =
        "&upload_time=" + std::to_string(nowMillis()) + "&checksum=" + checksums[i];
    ASSERT_TRUE(upload.body.starts_with(head) && upload.body.ends_with(tail)) << upload.body;
    const std::string encoded =
        upload.body.substr(head.size(), upload.body.size() - head.size() - tail.size());
    // Every byte but letters, digits, "-", "." and "_" is encoded, in upper-case hexadecimal.
    EXPECT_EQ(encoded.find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._%"),
              std::string::npos);
    for (size_t at = encoded.find('%'); at != std::string::npos; at = encoded.find('%', at + 1)) {
      ASSERT_LE(at + 3, encoded.size());
      EXPECT_EQ(encoded.substr(at + 1, 2).find_first_not_of("0123456789ABCDEF"), std::string::npos);
    }
    json batch = json::parse(Url::percentDecode(encoded));
    ASSERT_EQ(batch.size(), i == 0 ? 100u : 150u);
    for (const json& event : batch) {
      EXPECT_EQ(event["event_id"], nextId++);
      EXPECT_EQ(event["event_properties"]["s"], awkward);
    }
    http_.answer(FakeHttpClient::status(200, "success"));
    settle();
  }
  EXPECT_TRUE(queued().empty());
  EXPECT_EQ(storedArchive()["events"], json::array());
  EXPECT_TRUE(systemLog_.lines().empty()) << ::testing::PrintToString(systemLog_.lines());
}

// The device id's source when there is no advertising identifier: the hardware address of en0.
TEST(AMPDeviceInfoTest, VendorIdIsTheEn0HardwareAddressWhenThereIsOne) {
  TempDir root;
  EXPECT_EQ(AMPDeviceInfo::vendorIDBelow(root.path()), std::nullopt);

  root.write("sys/class/net/en0/address", "3c:22:fb:0a:1b:ff\n");
  EXPECT_EQ(AMPDeviceInfo::vendorIDBelow(root.path()), "3C22FB0A1BFF");

  for (const char* malformed : {"3c:22:fb:0a:1b\n", "3c:22:fb:0a:1b:fg"}) {
    root.write("sys/class/net/en0/address", malformed);
    EXPECT_EQ(AMPDeviceInfo::vendorIDBelow(root.path()), std::nullopt) << malformed;
  }
}

TEST(AMPDeviceInfoUUIDTest, GeneratedIdsAreUUIDTextFollowedByR) {
  const std::string id = AMPDeviceInfo().generateUUID();
  EXPECT_TRUE(std::regex_match(id, std::regex("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}R"))) << id;
}

}  // namespace
}  // namespace zelto
