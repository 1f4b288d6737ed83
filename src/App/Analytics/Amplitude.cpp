#include "App/Analytics/Amplitude.h"

#include <cmath>
#include <future>
#include <limits>
#include <utility>

#include "App/Analytics/AMPDeviceInfo.h"
#include "Platform/Application.h"
#include "Platform/Clock.h"
#include "Platform/Directories.h"
#include "Platform/DispatchQueue.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"
#include "Platform/JsonText.h"
#include "Platform/Log.h"
#include "Platform/PropertyList.h"
#include "Platform/RunLoop.h"
#include "Platform/SystemLog.h"

namespace zelto {

using json = nlohmann::json;

namespace {

// Stored files larger than these are not read: nothing the client writes comes near them.
constexpr uint64_t kMaxPropertyListBytes = 64 * 1024;
constexpr uint64_t kMaxEventsDataBytes = 64 * 1024 * 1024;
// The store holds properties three levels down (store, "events", event); a little more is room.
constexpr int kMaxStoredDepth = Amplitude::kMaxPropertyDepth + 8;

// Device ids that some systems hand out to every machine alike: never usable as an id.
constexpr const char* kUnusableDeviceIds[] = {"e3f5536a141811db40efd6400f1d0a4e",
                                              "04bab7ee75b9a58d39b8dc54e8851084"};

std::optional<int64_t> int64Of(const json& value) {
  if (value.is_number_unsigned()) {
    uint64_t number = value.get<uint64_t>();
    if (number > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
    return static_cast<int64_t>(number);
  }
  if (value.is_number_integer()) return value.get<int64_t>();
  return std::nullopt;
}

std::optional<int64_t> int64At(const json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end()) return std::nullopt;
  return int64Of(*it);
}

// How deeply containers nest in `value` (a scalar 0, a flat object or array 1), without
// recursion.
int depthOf(const json& value) {
  int deepest = 0;
  std::vector<std::pair<const json*, int>> pending{{&value, 0}};
  while (!pending.empty()) {
    auto [node, depth] = pending.back();
    pending.pop_back();
    if (!node->is_structured()) continue;
    deepest = std::max(deepest, depth + 1);
    for (const json& child : *node) pending.emplace_back(&child, depth + 1);
  }
  return deepest;
}

// JSON text as a value; too deep a nesting is refused before parsing, and so before any
// recursion.
Result<json> parseStoredJson(const std::string& text) {
  if (!JsonText::depthWithin(text, kMaxStoredDepth)) {
    return Status::failure("nested more than " + std::to_string(kMaxStoredDepth) + " levels deep");
  }
  json parsed;
  try {
    parsed = json::parse(text, nullptr, /*allow_exceptions=*/false);
  } catch (const std::exception& e) {
    return Status::failure(e.what());
  }
  if (parsed.is_discarded()) return Status::failure("not valid JSON text");
  return parsed;
}

Status checkPropertyListShape(const json& propertyList) {
  if (!propertyList.is_object()) return Status::failure("not a dictionary");
  if (!int64At(propertyList, "max_id")) return Status::failure("\"max_id\" is not an integer");
  return Status::success();
}

Status checkEventsDataShape(const json& eventsData) {
  if (!eventsData.is_object()) return Status::failure("not a dictionary");
  auto events = eventsData.find("events");
  if (events == eventsData.end() || !events->is_array()) {
    return Status::failure("\"events\" is not an array");
  }
  for (const json& event : *events) {
    if (!event.is_object()) return Status::failure("an event is not a dictionary");
    if (!int64At(event, "event_id")) return Status::failure("an event's id is not an integer");
  }
  if (!int64At(eventsData, "max_id")) return Status::failure("\"max_id\" is not an integer");
  for (const char* key : {"device_id", "user_id"}) {
    auto it = eventsData.find(key);
    if (it != eventsData.end() && !it->is_string()) {
      return Status::failure(std::string("\"") + key + "\" is not a string");
    }
  }
  auto optOut = eventsData.find("opt_out");
  if (optOut != eventsData.end() && !optOut->is_boolean()) {
    return Status::failure("\"opt_out\" is not a boolean");
  }
  for (const char* key : {"previous_session_id", "previous_session_time"}) {
    if (eventsData.contains(key) && !int64At(eventsData, key)) {
      return Status::failure(std::string("\"") + key + "\" is not an integer");
    }
  }
  return Status::success();
}

// Standard Base64 with padding (RFC 4648). Written out here: it is the only use the program
// has for a crypto library's encoder.
std::string base64(const std::string& bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve(4 * ((bytes.size() + 2) / 3));
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t left = bytes.size() - i;
    uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
    if (left > 1) group |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    if (left > 2) group |= static_cast<uint8_t>(bytes[i + 2]);
    text.push_back(kAlphabet[(group >> 18) & 0x3f]);
    text.push_back(kAlphabet[(group >> 12) & 0x3f]);
    text.push_back(left > 1 ? kAlphabet[(group >> 6) & 0x3f] : '=');
    text.push_back(left > 2 ? kAlphabet[group & 0x3f] : '=');
  }
  return text;
}

// The contents of a stored file, refused unread when it is larger than `maxBytes`.
Result<std::string> readStoredFile(const FileSystem& fs, const std::string& path,
                                   const FileStatus& status, uint64_t maxBytes) {
  if (status.kind == FileStatus::Kind::kRegular && status.size > maxBytes) {
    return Status::failure("the file is too large (" + std::to_string(status.size) + " bytes)");
  }
  return fs.readFile(path, maxBytes);
}

}  // namespace

Amplitude::Amplitude(RunLoop& mainLoop, HttpClient& http, Clock& clock, FileSystem& fileSystem,
                     Directories& directories, NotificationCenter& notifications,
                     std::string endpoint)
    : mainLoop_(mainLoop),
      http_(http),
      clock_(clock),
      fs_(fileSystem),
      directories_(directories),
      notifications_(notifications),
      endpoint_(std::move(endpoint)),
      eventsDataPath_(
          directories.libraryDirectory()
              ? path::appendingComponent(*directories.libraryDirectory(), kEventsDataFileName)
              : std::string()),
      propertyListPath_(
          directories.libraryDirectory()
              ? path::appendingComponent(*directories.libraryDirectory(), kPropertyListFileName)
              : std::string()),
      deviceInfo_(std::make_unique<AMPDeviceInfo>()),
      lifeline_(std::make_shared<Lifeline>()),
      backgroundQueue_(std::make_unique<DispatchQueue>(kBackgroundQueueName, /*suspended=*/true)),
      initializerQueue_(std::make_unique<DispatchQueue>("Amplitude initializer")) {
  initializerQueue_->async([this] { initialize(); });
  observers_.push_back(notifications_.addObserver(
      kDidBecomeActiveNotification, [this](const Notification&) { enterForeground(); }));
  observers_.push_back(notifications_.addObserver(
      kDidResignActiveNotification, [this](const Notification&) { enterBackground(); }));
}

Amplitude::~Amplitude() {
  for (NotificationCenter::Token token : observers_) notifications_.removeObserver(token);
  alive_.reset();  // main-loop work posted from now on does nothing
  {
    std::lock_guard<std::mutex> lock(lifeline_->mutex);
    lifeline_->alive = false;
  }
  initializerQueue_.reset();  // the store has been read and the background queue resumed
  // Runs what is queued, the save last. The queue stays in place meanwhile, for the work that
  // hands more work to it; nothing else can reach it any more.
  std::promise<void> saved;
  backgroundQueue_->async([this, &saved] {
    saveEventsData().ignoreError();
    saved.set_value();
  });
  saved.get_future().wait();
  backgroundQueue_.reset();
  turnOffTimer_.reset();
  uploadTimer_.reset();
}

Amplitude& Amplitude::instance() {
  static Amplitude* const shared =
      new Amplitude(Application::mainRunLoop(), HttpClient::standard(), Env::clock(),
                    Env::fileSystem(), Env::directories(), Env::notificationCenter());
  return *shared;
}

// ---------------------------------------------------------------------------------------------
// Start-up

void Amplitude::initialize() {
  try {
    loadStore();
  } catch (const std::exception& e) {
    // Whatever went wrong, the queue must not wait forever; the store stays unsaved.
    SystemLog::write(std::string("EXCEPTION: Analytics store not loaded: ") + e.what());
  }
  backgroundQueue_->resume();
}

void Amplitude::loadStore() {
  if (auto library = directories_.libraryDirectory()) {
    Status made = fs_.createDirectories(*library);
    if (!made.ok()) log::warning("Analytics store directory unavailable: {}", made.message());
    if (auto caches = directories_.cachesDirectory()) {
      moveFileIfNotExists(path::appendingComponent(*caches, kPropertyListFileName),
                          propertyListPath_)
          .ignoreError();
      moveFileIfNotExists(path::appendingComponent(*caches, kEventsDataFileName), eventsDataPath_)
          .ignoreError();
    }
  }

  std::optional<json> propertyList = deserializePList(propertyListPath_);
  if (!propertyList) {
    propertyList = json{{"max_id", 0}};
    if (!serializePList(*propertyList, propertyListPath_).ok()) {
      SystemLog::write("ERROR: Unable to save propertyList to file on initialization");
    }
  }
  {
    // Only the counter is kept: anything else the file held might not be writable again.
    std::lock_guard<std::mutex> lock(propertyListMutex_);
    propertyList_ = json{{"max_id", int64At(*propertyList, "max_id").value_or(0)}};
  }

  std::optional<json> eventsData = unarchive(eventsDataPath_);
  if (!eventsData) {
    eventsData = json{{"events", json::array()}, {"max_id", 0}};
    if (!archive(*eventsData, eventsDataPath_).ok()) {
      SystemLog::write("ERROR: Unable to save eventsData to file on initialization");
    }
  }
  // New events are numbered after every queued one, even where "max_id" says less: the answer
  // to an upload removes events by their ids.
  int64_t newest = int64At(*eventsData, "max_id").value_or(0);
  for (const json& event : (*eventsData)["events"]) {
    newest = std::max(newest, int64At(event, "event_id").value_or(0));
  }
  (*eventsData)["max_id"] = newest;
  {
    std::lock_guard<std::mutex> lock(eventsMutex_);
    eventsData_ = std::move(*eventsData);
    storeLoaded_ = true;
  }

  initializeDeviceId();
}

Status Amplitude::moveFileIfNotExists(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty() || fs_.exists(to) || !fs_.exists(from)) {
    return Status::success();
  }
  Result<std::string> contents =
      fs_.readFile(from, kMaxEventsDataBytes);  // the larger of the two kinds
  if (!contents.ok()) return contents.status();
  Status copied = fs_.writeFileAtomically(to, *contents, FileSystem::kPrivateFileMode);
  if (!copied.ok()) return copied;
  return fs_.removeFile(from);
}

std::optional<json> Amplitude::deserializePList(const std::string& path) {
  if (path.empty()) return std::nullopt;
  std::optional<FileStatus> status = fs_.inspect(path).toOptional();
  if (!status) return std::nullopt;
  Result<json> propertyList = [&]() -> Result<json> {
    Result<std::string> bytes = readStoredFile(fs_, path, *status, kMaxPropertyListBytes);
    if (!bytes.ok()) return bytes.status();
    std::optional<json> parsed = PropertyList::parse(*bytes);
    if (!parsed) return Status::failure("not a property list");
    if (Status shape = checkPropertyListShape(*parsed); !shape.ok()) return shape;
    return std::move(*parsed);
  }();
  if (propertyList.ok()) return std::move(*propertyList);
  SystemLog::write("ERROR: propertyList deserialization error:" + propertyList.status().message());
  if (Status removed = fs_.removeFile(path); !removed.ok()) {
    SystemLog::write("ERROR: Can't remove corrupt propertyList file:" + removed.message());
  }
  return std::nullopt;
}

std::optional<json> Amplitude::unarchive(const std::string& path) {
  if (path.empty()) return std::nullopt;
  std::optional<FileStatus> status = fs_.inspect(path).toOptional();
  if (!status) return std::nullopt;
  Result<json> eventsData = [&]() -> Result<json> {
    Result<std::string> text = readStoredFile(fs_, path, *status, kMaxEventsDataBytes);
    if (!text.ok()) return text.status();
    Result<json> parsed = parseStoredJson(*text);
    if (!parsed.ok()) return parsed.status();
    if (Status shape = checkEventsDataShape(*parsed); !shape.ok()) return shape;
    return std::move(*parsed);
  }();
  if (eventsData.ok()) return std::move(*eventsData);
  SystemLog::write("EXCEPTION: Corrupt file " + path + ": " + eventsData.status().message());
  if (Status removed = fs_.removeFile(path); !removed.ok()) {
    SystemLog::write("ERROR: Can't remove corrupt archiveDict file:" + removed.message());
  }
  return std::nullopt;
}

void Amplitude::initializeDeviceId() {
  bool made = false;
  {
    std::lock_guard<std::mutex> lock(eventsMutex_);
    if (!deviceId_.empty()) return;
    auto stored = eventsData_.find("device_id");
    if (stored != eventsData_.end() && stored->is_string()) {
      const std::string& id = stored->get_ref<const std::string&>();
      bool unusable = id.empty();
      for (const char* fixed : kUnusableDeviceIds) unusable = unusable || id == fixed;
      if (!unusable) {
        deviceId_ = id;
        return;
      }
    }
    deviceId_ = computeDeviceId();
    eventsData_["device_id"] = deviceId_;
    made = true;
  }
  // Saved at once: a device id that changes with every run until 20 events arrive is no id.
  if (made) saveEventsData().ignoreError();
}

std::string Amplitude::computeDeviceId() {
  bool preferAdvertisingId = false;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    preferAdvertisingId = useAdvertisingIdForDeviceId_;
  }
  if (preferAdvertisingId && deviceInfo_->advertiserID()) return *deviceInfo_->advertiserID();
  if (deviceInfo_->vendorID()) return *deviceInfo_->vendorID();
  return deviceInfo_->generateUUID();
}

// ---------------------------------------------------------------------------------------------
// Persistence

Status Amplitude::serializePList(const json& propertyList, const std::string& path) {
  std::optional<std::string> xml = PropertyList::toXML(propertyList);
  if (!xml) {
    SystemLog::write("ERROR: Unable to serialize propertyList:" + propertyList.dump());
    return Status::failure("the property list can't be serialized");
  }
  Status written = fs_.writeFileAtomically(path, *xml, FileSystem::kPrivateFileMode);
  if (!written.ok()) SystemLog::write("ERROR: Unable to save propertyList to file");
  return written;
}

Status Amplitude::archive(const json& eventsData, const std::string& path) {
  return fs_.writeFileAtomically(path, archiveText(eventsData), FileSystem::kPrivateFileMode);
}

std::string Amplitude::archiveText(const json& eventsData) {
  // Text that isn't UTF-8 is written with replacement characters rather than not at all.
  return eventsData.dump(-1, ' ', false, json::error_handler_t::replace);
}

Status Amplitude::savePropertyList() {
  json propertyList;
  {
    std::lock_guard<std::mutex> lock(propertyListMutex_);
    propertyList = propertyList_;
  }
  Status saved = serializePList(propertyList, propertyListPath_);
  if (!saved.ok()) SystemLog::write("Error: Unable to save propertyList to file");
  return saved;
}

Status Amplitude::saveEventsData() {
  std::string text;
  {
    std::lock_guard<std::mutex> lock(eventsMutex_);
    // Never write over the stored queue before it has been read.
    if (!storeLoaded_) return Status::failure("the analytics store has not been loaded");
    text = archiveText(eventsData_);
  }
  Status saved = fs_.writeFileAtomically(eventsDataPath_, text, FileSystem::kPrivateFileMode);
  if (!saved.ok()) SystemLog::write("ERROR: Unable to save eventsData to file");
  return saved;
}

// ---------------------------------------------------------------------------------------------
// Initialisation and events

void Amplitude::initializeApiKey(const json& apiKey) { initializeApiKey(apiKey, nullptr); }

void Amplitude::initializeApiKey(const json& apiKey, const json& userId) {
  initializeApiKey(apiKey, userId, true);
}

void Amplitude::initializeApiKey(const json& apiKey, const json& userId, bool startSession) {
  if (apiKey.is_null()) {
    SystemLog::write("ERROR: apiKey cannot be nil in initializeApiKey:");
    return;
  }
  if (!isArgument(apiKey, json::value_t::string, "initializeApiKey:")) return;
  if (!userId.is_null() && !isArgument(userId, json::value_t::string, "initializeApiKey:")) return;
  if (apiKey.get_ref<const std::string&>().empty()) {
    SystemLog::write("ERROR: apiKey cannot be blank in initializeApiKey:");
    return;
  }
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    apiKey_ = apiKey.get<std::string>();
  }
  runOnBackgroundQueue([this, userId] {
    if (userId.is_string()) {
      setUserIdOnQueue(userId.get<std::string>());
      return;
    }
    std::lock_guard<std::mutex> lock(eventsMutex_);
    auto stored = eventsData_.find("user_id");
    userId_ = stored != eventsData_.end() && stored->is_string()
                  ? std::optional<std::string>(stored->get<std::string>())
                  : std::nullopt;
  });
  if (startSession) enterForeground();
  std::lock_guard<std::mutex> lock(stateMutex_);
  initialized_ = true;
}

void Amplitude::logEvent(const json& eventType) {
  if (!isArgument(eventType, json::value_t::string, "logEvent")) return;
  logEvent(eventType.get<std::string>(), nullptr, nullptr, std::nullopt);
}

void Amplitude::logEvent(const json& eventType, const json& eventProperties) {
  const std::string method = "logEvent:withEventProperties:";
  if (!isArgument(eventType, json::value_t::string, method)) return;
  if (!eventProperties.is_null() && !isArgument(eventProperties, json::value_t::object, method)) {
    return;
  }
  logEvent(eventType.get<std::string>(), eventProperties, nullptr, std::nullopt);
}

void Amplitude::logEvent(const std::string& eventType, const json& eventProperties,
                         const json& apiProperties, std::optional<int64_t> timestampMillis) {
  if (!hasApiKey()) {
    SystemLog::write(
        "ERROR: apiKey cannot be nil or empty, set apiKey with initializeApiKey: before calling "
        "logEvent:");
    return;
  }
  const std::string method = "logEvent:withEventProperties:apiProperties:withTimestamp:";
  for (const json* properties : {&eventProperties, &apiProperties}) {
    if (!properties->is_null() && !isArgument(*properties, json::value_t::object, method)) return;
  }
  const int64_t timestamp = timestampMillis ? *timestampMillis : nowMillis();
  runOnBackgroundQueue([this, eventType, eventProperties, apiProperties, timestamp] {
    queueEvent(eventType, eventProperties, apiProperties, timestamp);
  });
}

void Amplitude::queueEvent(const std::string& eventType, const json& eventProperties,
                           const json& apiProperties, int64_t timestampMillis) {
  if (optOut()) {
    log::info("User has opted out of tracking. Event {} not logged.", eventType);
    return;
  }
  const json userProperties = this->userProperties();
  if (depthOf(eventProperties) > kMaxPropertyDepth || depthOf(apiProperties) > kMaxPropertyDepth ||
      depthOf(userProperties) > kMaxPropertyDepth) {
    SystemLog::write("ERROR: Event " + eventType +
                     " not logged: its properties are nested more than " +
                     std::to_string(kMaxPropertyDepth) + " levels deep");
    return;
  }

  int64_t counter = 0;
  {
    std::lock_guard<std::mutex> lock(propertyListMutex_);
    counter = int64At(propertyList_, "max_id").value_or(0) + 1;
    propertyList_["max_id"] = counter;
  }
  savePropertyList().ignoreError();

  size_t queued = 0;
  bool save = false;
  {
    std::lock_guard<std::mutex> lock(eventsMutex_);
    const int64_t eventId = int64At(eventsData_, "max_id").value_or(0) + 1;
    json event = makeEventRecord(eventType, eventProperties, apiProperties, userProperties, eventId,
                                 timestampMillis, counter);
    refreshSessionTimeLocked(timestampMillis);
    json& events = eventsData_["events"];
    events.push_back(std::move(event));
    eventsData_["max_id"] = eventId;
    if (events.size() >= kQueueLimit) {
      events.erase(events.begin(), events.begin() + kDropAndSaveStep);
      save = true;
    } else {
      save = events.size() % kDropAndSaveStep == 0;
    }
    queued = events.size();
  }
  if (save) saveEventsData().ignoreError();

  if (queued >= kUploadThreshold) {
    uploadEvents();
  } else {
    uploadEventsWithDelay(kUploadDelaySeconds);
  }
}

json Amplitude::makeEventRecord(const std::string& eventType, const json& eventProperties,
                                const json& apiProperties, const json& userProperties,
                                int64_t eventId, int64_t timestampMillis, int64_t counter) {
  auto orEmpty = [](const json& value) { return value.is_null() ? json::object() : value; };
  json api = orEmpty(apiProperties);
  api["max_id"] = counter;
  if (const auto& idfa = deviceInfo_->advertiserID()) api["ios_idfa"] = *idfa;
  if (const auto& idfv = deviceInfo_->vendorID()) api["ios_idfv"] = *idfv;
  // No location service here, so no "location".

  json event = {
      {"event_type", eventType},
      {"event_id", eventId},
      {"event_properties", orEmpty(eventProperties)},
      {"api_properties", std::move(api)},
      {"user_properties", orEmpty(userProperties)},
      {"timestamp", timestampMillis},
      {"device_id", deviceId_},
      {"session_id", sessionId_},
      {"platform", "OSX"},
      {"version_name", deviceInfo_->appVersion()},
      {"os_name", AMPDeviceInfo::osName()},
      {"os_version", deviceInfo_->osVersion()},
      {"device_model", deviceInfo_->model()},
      {"device_manufacturer", AMPDeviceInfo::manufacturer()},
      {"country", deviceInfo_->country()},
      {"language", deviceInfo_->language()},
      {"library", {{"name", "amplitude-ios"}, {"version", "2.4.0"}}},
  };
  if (userId_) event["user_id"] = *userId_;
  if (const auto& carrier = deviceInfo_->carrier()) event["carrier"] = *carrier;
  return event;
}

void Amplitude::logRevenue(const json& price) { logRevenue(nullptr, 1, price); }

void Amplitude::logRevenue(const json& productId, int64_t quantity, const json& price) {
  logRevenue(productId, quantity, price, std::nullopt);
}

void Amplitude::logRevenue(const json& productId, int64_t quantity, const json& price,
                           const std::optional<std::string>& receipt) {
  if (!hasApiKey()) {
    SystemLog::write(
        "ERROR: apiKey cannot be nil or empty, set apiKey with initializeApiKey: before calling "
        "logRevenue:");
    return;
  }
  if (!isArgument(price, json::value_t::number_float, "logRevenue:")) return;
  json api = {{"special", "revenue_amount"}, {"quantity", quantity}, {"price", price}};
  if (!productId.is_null()) api["productId"] = productId;
  if (receipt) api["receipt"] = base64(*receipt);
  logEvent("revenue_amount", nullptr, api, std::nullopt);
}

// ---------------------------------------------------------------------------------------------
// Sessions

void Amplitude::enterForeground() {
  updateLocation();
  startSession();
  runOnBackgroundQueue([this] { uploadEvents(); });
}

void Amplitude::enterBackground() {
  endSession();
  runOnBackgroundQueue([this] {
    saveEventsData().ignoreError();
    uploadEventsWithLimit(0);
  });
}

void Amplitude::startSession() {
  const int64_t now = nowMillis();
  runOnMainQueue([this] {
    turnOffTimer_.reset();
    turnOffPending_ = false;
  });
  runOnBackgroundQueue([this, now] {
    bool wasStarted = false;
    {
      std::lock_guard<std::mutex> lock(eventsMutex_);
      const int64_t delta = now - int64At(eventsData_, "previous_session_time").value_or(0);
      const std::optional<int64_t> previousId = int64At(eventsData_, "previous_session_id");
      bool beginNew = false;
      if (!sessionStarted_ || sessionId_ < 0) {
        if (delta < kMinTimeBetweenSessionsMillis && previousId) {
          sessionId_ = *previousId;
        } else {
          beginNew = true;
        }
      } else if (delta > kSessionTimeoutMillis) {
        beginNew = true;
      }
      if (beginNew) {
        sessionId_ = now;
        eventsData_["previous_session_id"] = now;
      }
      wasStarted = sessionStarted_;
    }
    if (!wasStarted) logEvent("session_start", nullptr, {{"special", "session_start"}}, now);
    std::lock_guard<std::mutex> lock(eventsMutex_);
    sessionStarted_ = true;
  });
}

void Amplitude::endSession() {
  logEvent("session_end", nullptr, {{"special", "session_end"}}, std::nullopt);
  runOnBackgroundQueue([this] {
    std::lock_guard<std::mutex> lock(eventsMutex_);
    sessionStarted_ = false;
  });
  runOnMainQueue([this] {
    if (turnOffPending_) return;  // the earlier end's turn-off comes first
    turnOffPending_ = true;
    turnOffTimer_ = mainLoop_.addTimer(kMinTimeBetweenSessionsMillis / 1000.0, 0, [this] {
      turnOffPending_ = false;
      turnOffSessionLaterExecute();
    });
  });
}

void Amplitude::turnOffSessionLaterExecute() {
  runOnBackgroundQueue([this] {
    std::lock_guard<std::mutex> lock(eventsMutex_);
    if (!sessionStarted_) sessionId_ = -1;
  });
}

void Amplitude::refreshSessionTimeLocked(int64_t timestampMillis) {
  if (sessionId_ >= 0) eventsData_["previous_session_time"] = timestampMillis;
}

// ---------------------------------------------------------------------------------------------
// User data, opt-out, location, device id

void Amplitude::setUserProperties(const json& userProperties, bool replace) {
  if (!isArgument(userProperties, json::value_t::object, "setUserProperties:")) return;
  if (depthOf(userProperties) > kMaxPropertyDepth) {
    SystemLog::write("ERROR: User properties not set: they are nested more than " +
                     std::to_string(kMaxPropertyDepth) + " levels deep");
    return;
  }
  std::lock_guard<std::mutex> lock(stateMutex_);
  if (!replace && userProperties_.is_object()) {
    json merged = userProperties_;
    merged.update(userProperties);
    userProperties_ = std::move(merged);
  } else {
    userProperties_ = userProperties;
  }
}

void Amplitude::setUserId(const json& userId) {
  if (!isArgument(userId, json::value_t::string, "setUserId:")) return;
  runOnBackgroundQueue([this, id = userId.get<std::string>()] { setUserIdOnQueue(id); });
}

void Amplitude::setUserIdOnQueue(const std::string& userId) {
  {
    std::lock_guard<std::mutex> lock(eventsMutex_);
    userId_ = userId;
    eventsData_["user_id"] = userId;
  }
  saveEventsData().ignoreError();
}

void Amplitude::setOptOut(bool optOut) {
  runOnBackgroundQueue([this, optOut] {
    {
      std::lock_guard<std::mutex> lock(eventsMutex_);
      eventsData_["opt_out"] = optOut;
    }
    saveEventsData().ignoreError();
  });
}

bool Amplitude::optOut() const {
  std::lock_guard<std::mutex> lock(eventsMutex_);
  auto it = eventsData_.find("opt_out");
  return it != eventsData_.end() && it->is_boolean() && it->get<bool>();
}

void Amplitude::updateLocation() {
  // Without a location service there is never a location to read, listening or not.
  if (!locationListeningEnabled_) return;
}

void Amplitude::enableLocationListening() {
  locationListeningEnabled_ = true;
  updateLocation();
}

void Amplitude::disableLocationListening() { locationListeningEnabled_ = false; }

void Amplitude::useAdvertisingIdForDeviceId() {
  std::lock_guard<std::mutex> lock(stateMutex_);
  useAdvertisingIdForDeviceId_ = true;
}

std::string Amplitude::getDeviceId() const {
  std::lock_guard<std::mutex> lock(eventsMutex_);
  return deviceId_;
}

// ---------------------------------------------------------------------------------------------
// Queues, checks and state

bool Amplitude::runOnBackgroundQueue(std::function<void()> task) {
  if (backgroundQueue_->isCurrent()) {
    task();
    return false;
  }
  backgroundQueue_->async(std::move(task));
  return true;
}

void Amplitude::runOnMainQueue(std::function<void()> task) {
  mainLoop_.post([alive = aliveWatch_, task = std::move(task)] {
    if (alive.lock()) task();
  });
}

bool Amplitude::isArgument(const json& value, json::value_t type, const std::string& methodName) {
  // Every kind of number passes as a number.
  const bool valid = type == json::value_t::number_float ? value.is_number() : value.type() == type;
  if (valid) return true;
  SystemLog::write("ERROR: Invalid type argument to method " + methodName + ", expected " +
                   json(type).type_name() + ", received " + value.type_name() + ", ");
  return false;
}

bool Amplitude::hasApiKey() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return apiKey_.has_value() && !apiKey_->empty();
}

int64_t Amplitude::nowMillis() const {
  const double millis = std::trunc(clock_.now().secondsSince1970() * 1000.0);
  // A clock that reads nonsense must not make the conversion undefined.
  if (!std::isfinite(millis)) return 0;
  if (millis >= 9.2e18) return std::numeric_limits<int64_t>::max();
  if (millis <= -9.2e18) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(millis);
}

void Amplitude::printEventsCount() const {
  size_t count = 0;
  {
    std::lock_guard<std::mutex> lock(eventsMutex_);
    auto events = eventsData_.find("events");
    if (events != eventsData_.end()) count = events->size();
  }
  log::info("Events count:{}", count);
}

std::optional<std::string> Amplitude::apiKey() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return apiKey_;
}

std::optional<std::string> Amplitude::userId() const {
  std::lock_guard<std::mutex> lock(eventsMutex_);
  return userId_;
}

json Amplitude::userProperties() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return userProperties_;
}

int64_t Amplitude::sessionId() const {
  std::lock_guard<std::mutex> lock(eventsMutex_);
  return sessionId_;
}

json Amplitude::eventsData() const {
  std::lock_guard<std::mutex> lock(eventsMutex_);
  return eventsData_;
}

}  // namespace zelto
