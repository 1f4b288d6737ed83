// Amplitude: the usage-analytics client. It validates usage events, numbers them, keeps them in
// a store on disk so that none is lost between runs, tracks usage sessions, and uploads the
// queue in batches (a form-encoded POST with an MD5 checksum, protocol version 2).
//
// Nothing happens until `initializeApiKey` has accepted a key: before that every event is
// refused with an "ERROR:" line. The agent never gives it one, so there it only refuses.
//
// Storage, in the user's Library directory: "com.amplitude.plist", an XML property list holding
// {"max_id": events ever accepted}, and "com.amplitude.archiveDict", the JSON of the store:
// {"events": the queue, oldest first; "max_id": id of the newest event; "device_id";
// "user_id"; "opt_out"; "previous_session_id"; "previous_session_time"}. Both are written
// atomically with mode 0600. A file that doesn't parse or has the wrong shape is logged,
// deleted and started afresh; files left in the Caches directory by older versions are moved
// over at start. The queue is saved whenever its length is a multiple of 20, at the queue limit,
// after every upload answer, on resigning active, when the user id, the opt-out or a newly made
// device id changes, and when the client is destroyed; the counter file after every event.
//
// Sessions follow the notifications "ApplicationDidBecomeActive" (start) and
// "ApplicationDidResignActive" (end) on the given notification centre; an ended session is
// turned off 15 seconds later unless a new start continues it. There is no location service on
// this platform: events never carry a location.
//
// Lines beginning "ERROR:", "WARNING:" or "EXCEPTION:" go straight to the system log
// (SystemLog); the others through the logging framework.
//
// Threads: the public operations may be called from any thread and never wait for disk or
// network: event, session, user-id and opt-out work runs on the client's own serial queue
// ("BACKGROUND"), which starts once the store has been read (work given earlier waits). Timers
// (the session turn-off, the deferred upload) run on the main loop. Create and destroy the
// object on the main loop's thread; destruction runs what is queued, saves the store, and drops
// the answer of an upload still in flight (its events stay queued and go again next time).
//
// Ownership: the caller keeps the loop, HTTP client, clock, file system, directories and
// notification centre alive for the client's life. `instance()` is the process's client, on
// the real services and the application's main loop (needs `Application::main` running),
// created on first use and never destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "Platform/HttpClient.h"
#include "Platform/NotificationCenter.h"
#include "Platform/Registration.h"
#include "Platform/Status.h"

namespace zelto {

class AMPDeviceInfo;
class Clock;
class Directories;
class FileSystem;
class RunLoop;
class DispatchQueue;

class Amplitude {
 public:
  static constexpr const char* kDefaultEndpoint = "https://api.amplitude.com/";
  static constexpr const char* kPropertyListFileName = "com.amplitude.plist";
  static constexpr const char* kEventsDataFileName = "com.amplitude.archiveDict";
  static constexpr const char* kBackgroundQueueName = "BACKGROUND";
  static constexpr const char* kDidBecomeActiveNotification = "ApplicationDidBecomeActive";
  static constexpr const char* kDidResignActiveNotification = "ApplicationDidResignActive";

  static constexpr size_t kUploadThreshold = 30;
  static constexpr double kUploadDelaySeconds = 30;
  static constexpr size_t kQueueLimit = 1000;
  static constexpr size_t kDropAndSaveStep = 20;
  static constexpr size_t kUploadBatch = 100;
  static constexpr int64_t kMinTimeBetweenSessionsMillis = 15000;
  static constexpr int64_t kSessionTimeoutMillis = 1800000;
  static constexpr double kRequestTimeoutSeconds = 60;
  // Event, API and user properties nested deeper than this are refused: the store must always
  // read back what it wrote, and it reads nothing nested deeper than a little more.
  static constexpr int kMaxPropertyDepth = 100;

  // Starts reading the store on a queue of its own and returns at once.
  Amplitude(RunLoop& mainLoop, HttpClient& http, Clock& clock, FileSystem& fileSystem,
            Directories& directories, NotificationCenter& notifications,
            std::string endpoint = kDefaultEndpoint);
  ~Amplitude();
  Amplitude(const Amplitude&) = delete;
  Amplitude& operator=(const Amplitude&) = delete;

  static Amplitude& instance();

  // The key must be a non-empty string and the user id, when not null, a string; otherwise the
  // call logs why and does nothing. `startSession` (default true) enters the foreground.
  void initializeApiKey(const nlohmann::json& apiKey);
  void initializeApiKey(const nlohmann::json& apiKey, const nlohmann::json& userId);
  void initializeApiKey(const nlohmann::json& apiKey, const nlohmann::json& userId,
                        bool startSession);

  // Queues one event. The type must be a string and the properties null or an object.
  void logEvent(const nlohmann::json& eventType);
  void logEvent(const nlohmann::json& eventType, const nlohmann::json& eventProperties);
  // The full form: properties and API properties null or objects; the timestamp in milliseconds
  // since 1970, now when absent.
  void logEvent(const std::string& eventType, const nlohmann::json& eventProperties,
                const nlohmann::json& apiProperties, std::optional<int64_t> timestampMillis);

  // A "revenue_amount" event. The price must be a number; the product id is left out when null;
  // the receipt's bytes are sent in Base64.
  void logRevenue(const nlohmann::json& price);
  void logRevenue(const nlohmann::json& productId, int64_t quantity, const nlohmann::json& price);
  void logRevenue(const nlohmann::json& productId, int64_t quantity, const nlohmann::json& price,
                  const std::optional<std::string>& receipt);

  void enterForeground();
  void enterBackground();
  void startSession();
  void endSession();
  void turnOffSessionLaterExecute();

  // Merges into (or with `replace`, replaces) the properties sent with every event; kept in
  // memory only. The argument must be an object.
  void setUserProperties(const nlohmann::json& userProperties, bool replace = false);
  // Stores and persists the user id, which must be a string.
  void setUserId(const nlohmann::json& userId);
  void setOptOut(bool optOut);
  bool optOut() const;

  void updateLocation();
  void enableLocationListening();
  void disableLocationListening();

  // Prefer the advertising identifier when a device id has to be made (there is none here).
  void useAdvertisingIdForDeviceId();
  // The device id; empty until the store has been read at start.
  std::string getDeviceId() const;

  // Runs `task` at once when called on the client's queue, else queues it there; true when
  // queued.
  bool runOnBackgroundQueue(std::function<void()> task);

  // Logs "Events count:N" with the queue's length.
  void printEventsCount() const;

  // Uploads the oldest 100 queued events (`uploadEventsWithLimit`: 0 means all of them); at most
  // one upload is in flight. `uploadEventsWithDelay` asks for one upload after `seconds`; while
  // one is pending, further asks are ignored.
  void uploadEvents();
  void uploadEventsWithLimit(size_t limit);
  void uploadEventsWithDelay(double seconds);
  void uploadEventsExecute();

  // A copy of `value` that serialises as JSON text: NaN and infinite numbers become null, text
  // that isn't UTF-8 (keys included) and raw bytes become readable UTF-8 text, each coercion
  // logged with a "WARNING:" line.
  static nlohmann::json makeJSONSerializable(const nlohmann::json& value);
  // 32 lower-case hexadecimal digits.
  static std::string md5HexDigest(const std::string& text);
  // UTF-8 text with every byte but letters, digits, "-", "." and "_" percent-encoded; text that
  // isn't UTF-8 gives "".
  static std::string urlEncodeString(const std::string& text);

  // State, for hosts and tests. Any thread.
  std::optional<std::string> apiKey() const;
  std::optional<std::string> userId() const;
  nlohmann::json userProperties() const;
  int64_t sessionId() const;
  // A copy of the store as it is in memory.
  nlohmann::json eventsData() const;
  const std::string& eventsDataPath() const { return eventsDataPath_; }
  const std::string& propertyListPath() const { return propertyListPath_; }

 private:
  // Lets an HTTP completion reach the background queue only while the client lives.
  struct Lifeline {
    std::mutex mutex;
    bool alive = true;
  };

  // Start-up, on the initializer's queue.
  void initialize();
  void loadStore();
  Status moveFileIfNotExists(const std::string& from, const std::string& to);
  std::optional<nlohmann::json> deserializePList(const std::string& path);
  std::optional<nlohmann::json> unarchive(const std::string& path);
  void initializeDeviceId();
  std::string computeDeviceId();

  // Persistence; the background queue (or the initializer before it starts).
  Status serializePList(const nlohmann::json& propertyList, const std::string& path);
  Status archive(const nlohmann::json& eventsData, const std::string& path);
  static std::string archiveText(const nlohmann::json& eventsData);
  Status savePropertyList();
  Status saveEventsData();

  // Event work on the background queue.
  void queueEvent(const std::string& eventType, const nlohmann::json& eventProperties,
                  const nlohmann::json& apiProperties, int64_t timestampMillis);
  nlohmann::json makeEventRecord(const std::string& eventType,
                                 const nlohmann::json& eventProperties,
                                 const nlohmann::json& apiProperties,
                                 const nlohmann::json& userProperties, int64_t eventId,
                                 int64_t timestampMillis, int64_t counter);
  void refreshSessionTimeLocked(int64_t timestampMillis);
  void setUserIdOnQueue(const std::string& userId);

  // Upload work on the background queue.
  void prepareUpload(size_t limit);
  void makeEventUploadPostRequest(const std::string& url, const std::string& events,
                                  std::vector<int64_t> eventIds);
  void handleUploadResponse(const HttpResponse& response, const std::vector<int64_t>& eventIds);
  void finishUpload();

  // Runs `task` on the main loop, unless the client is gone by then.
  void runOnMainQueue(std::function<void()> task);
  static bool isArgument(const nlohmann::json& value, nlohmann::json::value_t type,
                         const std::string& methodName);
  bool hasApiKey() const;
  int64_t nowMillis() const;

  RunLoop& mainLoop_;
  HttpClient& http_;
  Clock& clock_;
  FileSystem& fs_;
  Directories& directories_;
  NotificationCenter& notifications_;
  const std::string endpoint_;
  const std::string eventsDataPath_;
  const std::string propertyListPath_;

  // Reads nothing until asked; used by the initializer, then on the background queue only.
  std::unique_ptr<AMPDeviceInfo> deviceInfo_;
  std::atomic<bool> locationListeningEnabled_{true};

  mutable std::mutex propertyListMutex_;
  nlohmann::json propertyList_ = nlohmann::json::object();

  // The store and the fields kept with it. Changed on the background queue only (and by the
  // initializer before it starts); the lock is for readers on other threads.
  mutable std::mutex eventsMutex_;
  nlohmann::json eventsData_ = nlohmann::json::object();
  bool storeLoaded_ = false;
  std::string deviceId_;
  std::optional<std::string> userId_;
  int64_t sessionId_ = -1;
  bool sessionStarted_ = false;

  mutable std::mutex stateMutex_;
  std::optional<std::string> apiKey_;
  nlohmann::json userProperties_;  // null when none were set
  bool initialized_ = false;
  bool updatingCurrently_ = false;
  bool useAdvertisingIdForDeviceId_ = false;

  std::atomic<bool> updateScheduled_{false};

  // Main loop only.
  std::unique_ptr<Registration> turnOffTimer_;
  bool turnOffPending_ = false;
  std::unique_ptr<Registration> uploadTimer_;

  std::vector<NotificationCenter::Token> observers_;
  std::shared_ptr<Lifeline> lifeline_;
  // Posted main-loop work holds the watch (never changed, so any thread may copy it) and runs
  // only while `alive_` (dropped first thing by the destructor) still stands.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  const std::weak_ptr<int> aliveWatch_ = alive_;
  std::unique_ptr<DispatchQueue> backgroundQueue_;
  std::unique_ptr<DispatchQueue> initializerQueue_;
};

}  // namespace zelto
