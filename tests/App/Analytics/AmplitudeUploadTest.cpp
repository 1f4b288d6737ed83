#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>

#include "App/Analytics/AmplitudeFixture.h"
#include "Support/TestEnv.h"

namespace zelto {
namespace {

using AmplitudeUploadTest = testing::AmplitudeFixture;
using testing::FakeHttpClient;
using json = nlohmann::json;
using Code = HttpResponse::ErrorCode;

TEST_F(AmplitudeUploadTest, OnlySuccessRemovesTheBatchAndEveryOtherAnswerKeepsIt) {
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
  amplitude.uploadEvents();
  ASSERT_TRUE(http_.waitForRequests(++sent));
  http_.answer(FakeHttpClient::status(200, "success"));
  settle();
  EXPECT_TRUE(queued().empty());
  EXPECT_EQ(storedArchive()["events"], json::array());
}

TEST_F(AmplitudeUploadTest, ValuesJSONCannotHoldAreSentAsNullOrReadableText) {
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

// What the local server saw of one upload.
struct ReceivedUpload {
  std::string contentType;
  std::string contentLength;
  std::string body;
};

// 250 stored events go to a real HTTP server through the process's HTTP client: the first 100,
// then, after "success", the remaining 150 at once.
TEST(AmplitudeServerTest, QueuedEventsReachTheServerInTwoBatchesWithTheirChecksum) {
  testing::TestEnv env;
  FakeClock clock;
  FakeRunLoop loop(clock);
  NotificationCenter notifications;
  testing::SystemLogCapture systemLog;
  const std::string key = "Key:1/2";  // sent as it is, though it holds reserved characters
  const std::string awkward = ":/?#[]@!$ &'()*+,;=\"<>%{}|\\^~`\xc3\xa9";
  json events = json::array();
  for (int id = 1; id <= 250; ++id) {
    events.push_back(
        {{"event_id", id}, {"event_type", "e"}, {"event_properties", {{"s", awkward}}}});
  }
  const std::string library = env.home() + "/.local/share/Zelto/Library";
  env.temp().write(".local/share/Zelto/Library/com.amplitude.archiveDict",
                   json({{"events", events}, {"max_id", 250}, {"device_id", "D"}}).dump());

  std::mutex mutex;
  std::condition_variable received;
  std::vector<ReceivedUpload> uploads;
  httplib::Server server;
  // Read through a content reader: the server's own form parsing refuses bodies over 8 KiB.
  server.Post("/", [&](const httplib::Request& request, httplib::Response& response,
                       const httplib::ContentReader& reader) {
    std::string body;
    reader([&](const char* data, size_t length) {
      body.append(data, length);
      return true;
    });
    {
      std::lock_guard<std::mutex> lock(mutex);
      uploads.push_back({request.get_header_value("Content-Type"),
                         request.get_header_value("Content-Length"), body});
    }
    received.notify_all();
    response.set_content("success", "text/plain");
  });
  server.set_keep_alive_max_count(1);  // no idle connection holds up the stop
  const int port = server.bind_to_any_port("127.0.0.1");
  ASSERT_GT(port, 0);
  std::thread serving([&] { server.listen_after_bind(); });

  {
    Amplitude amplitude(loop, HttpClient::standard(), clock, env.fs(), Env::directories(),
                        notifications, "http://127.0.0.1:" + std::to_string(port) + "/");
    amplitude.initializeApiKey(key, nullptr, false);
    amplitude.uploadEvents();
    {
      std::unique_lock<std::mutex> lock(mutex);
      EXPECT_TRUE(
          received.wait_for(lock, std::chrono::seconds(30), [&] { return uploads.size() >= 2; }));
    }
    // The second answer reaches the queue soon after the server sent it.
    const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!amplitude.eventsData()["events"].empty() && std::chrono::steady_clock::now() < bound) {
      std::promise<void> done;
      amplitude.runOnBackgroundQueue([&] { done.set_value(); });
      done.get_future().wait();
      std::this_thread::yield();
    }
    EXPECT_TRUE(amplitude.eventsData()["events"].empty());
  }
  server.stop();
  serving.join();

  ASSERT_EQ(uploads.size(), 2u);
  const std::string uploadTime =
      std::to_string(static_cast<int64_t>(clock.now().secondsSince1970() * 1000));
  // MD5 of "2", the key, the batch's JSON and the upload time, worked out apart from this code
  // (md5sum over the text each batch must be).
  const std::string checksums[] = {"1561ad06c6f087cd1b13de31ce5b23dd",
                                   "a58d799e760b4850bb83f447552142c2"};
  int64_t nextId = 1;
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const ReceivedUpload& upload = uploads[i];
    EXPECT_EQ(upload.contentType, "application/x-www-form-urlencoded");
    EXPECT_EQ(upload.contentLength, std::to_string(upload.body.size()));

    std::vector<std::string> fields;
    for (size_t begin = 0, end; begin <= upload.body.size(); begin = end + 1) {
      end = std::min(upload.body.find('&', begin), upload.body.size());
      fields.push_back(upload.body.substr(begin, end - begin));
    }
    ASSERT_EQ(fields.size(), 5u);
    EXPECT_EQ(fields[0], "v=2");
    EXPECT_EQ(fields[1], "client=" + key);
    ASSERT_TRUE(fields[2].starts_with("e="));
    EXPECT_EQ(fields[3], "upload_time=" + uploadTime);
    ASSERT_TRUE(fields[4].starts_with("checksum="));

    // Every byte but letters, digits, "-", "." and "_" is encoded, in upper-case hexadecimal.
    const std::string encoded = fields[2].substr(2);
    std::string text;
    for (size_t at = 0; at < encoded.size(); ++at) {
      const char c = encoded[at];
      if (c == '%') {
        ASSERT_LE(at + 2, encoded.size() - 1);
        const std::string hex = encoded.substr(at + 1, 2);
        ASSERT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos) << hex;
        text.push_back(static_cast<char>(std::stoi(hex, nullptr, 16)));
        at += 2;
      } else {
        ASSERT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_')
            << "unencoded '" << c << "'";
        text.push_back(c);
      }
    }
    json batch = json::parse(text);
    ASSERT_EQ(batch.size(), i == 0 ? 100u : 150u);
    for (const json& event : batch) {
      EXPECT_EQ(event["event_id"], nextId++);
      EXPECT_EQ(event["event_properties"]["s"], awkward);
    }
    EXPECT_EQ(fields[4], "checksum=" + checksums[i]);
  }
  EXPECT_EQ(json::parse(
                env.fs()
                    .readFile(library + "/com.amplitude.archiveDict", FileSystem::kMaxResourceBytes)
                    .valueOr("{}"))["events"],
            json::array());
  EXPECT_TRUE(systemLog.lines().empty()) << ::testing::PrintToString(systemLog.lines());
}

}  // namespace
}  // namespace zelto
