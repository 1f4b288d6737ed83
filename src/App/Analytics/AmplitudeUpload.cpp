// The upload half of the analytics client: batches of queued events sent to the service, and
// what its answers do to the queue.

#include <cmath>
#include <set>

#include "App/Analytics/Amplitude.h"
#include "Platform/Digest.h"
#include "Platform/DispatchQueue.h"
#include "Platform/FileSystem.h"
#include "Platform/RunLoop.h"
#include "Platform/SystemLog.h"
#include "Platform/Url.h"

namespace zelto {

using json = nlohmann::json;

namespace {

constexpr const char* kProtocolVersion = "2";

// Network failures by number. The first three are ordinary (offline, no name service, too slow)
// and not worth a log line.
constexpr int kNotConnectedToInternet = -1009;
constexpr int kCannotFindHost = -1003;
constexpr int kTimedOut = -1001;
constexpr int kUnknownError = -1;

int platformErrorCode(HttpResponse::ErrorCode code) {
  switch (code) {
    case HttpResponse::ErrorCode::kNotConnected:
      return kNotConnectedToInternet;
    case HttpResponse::ErrorCode::kHostNotFound:
      return kCannotFindHost;
    case HttpResponse::ErrorCode::kTimedOut:
      return kTimedOut;
    default:
      return kUnknownError;
  }
}

// Bytes that aren't UTF-8 as text, each bad sequence a replacement character.
std::string readableText(const std::string& bytes) {
  return json::parse(json(bytes).dump(-1, ' ', false, json::error_handler_t::replace))
      .get<std::string>();
}

std::string hexDescription(const json::binary_t& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text = "<";
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0 && i % 4 == 0) text.push_back(' ');
    text.push_back(kHex[bytes[i] >> 4]);
    text.push_back(kHex[bytes[i] & 0x0f]);
  }
  return text + ">";
}

}  // namespace

void Amplitude::uploadEvents() { uploadEventsWithLimit(kUploadBatch); }

void Amplitude::uploadEventsWithLimit(size_t limit) {
  if (!hasApiKey()) {
    SystemLog::write(
        "ERROR: apiKey cannot be nil or empty, set apiKey with initializeApiKey: before calling "
        "uploadEvents:");
    return;
  }
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (updatingCurrently_) return;
    updatingCurrently_ = true;
  }
  runOnBackgroundQueue([this, limit] { prepareUpload(limit); });
}

void Amplitude::uploadEventsWithDelay(double seconds) {
  if (updateScheduled_.exchange(true)) return;
  runOnMainQueue([this, seconds] {
    uploadTimer_ = mainLoop_.addTimer(seconds, 0, [this] { uploadEventsExecute(); });
  });
}

void Amplitude::uploadEventsExecute() {
  updateScheduled_ = false;
  runOnBackgroundQueue([this] { uploadEvents(); });
}

void Amplitude::prepareUpload(size_t limit) {
  json batch = json::array();
  if (!optOut()) {
    std::lock_guard<std::mutex> lock(eventsMutex_);
    auto events = eventsData_.find("events");
    if (events != eventsData_.end() && events->is_array()) {
      const size_t count = limit == 0 ? events->size() : std::min(limit, events->size());
      batch = json(events->begin(), events->begin() + static_cast<std::ptrdiff_t>(count));
    }
  }
  if (batch.empty()) {
    finishUpload();
    return;
  }
  std::vector<int64_t> eventIds;
  for (const json& event : batch) eventIds.push_back(event.value("event_id", int64_t{0}));

  std::string text;
  try {
    text = makeJSONSerializable(batch).dump(-1, ' ', false, json::error_handler_t::replace);
  } catch (const std::exception& e) {
    SystemLog::write(std::string("ERROR: NSJSONSerialization error: ") + e.what());
    finishUpload();
    return;
  }
  makeEventUploadPostRequest(endpoint_, text, std::move(eventIds));
}

void Amplitude::makeEventUploadPostRequest(const std::string& url, const std::string& events,
                                           std::vector<int64_t> eventIds) {
  std::string apiKey;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    apiKey = apiKey_.value_or("");
  }
  const std::string uploadTime = std::to_string(nowMillis());
  const std::string checksum = md5HexDigest(kProtocolVersion + apiKey + events + uploadTime);

  HttpRequest request;
  request.method = "POST";
  request.url = url;
  request.timeoutSeconds = kRequestTimeoutSeconds;
  request.body = std::string("v=") + kProtocolVersion + "&client=" + apiKey +
                 "&e=" + urlEncodeString(events) + "&upload_time=" + uploadTime +
                 "&checksum=" + checksum;
  request.headers = {{"Content-Type", "application/x-www-form-urlencoded"},
                     {"Content-Length", std::to_string(request.body.size())}};

  http_.send(std::move(request),
             [this, lifeline = lifeline_, eventIds = std::move(eventIds)](HttpResponse response) {
               std::lock_guard<std::mutex> lock(lifeline->mutex);
               if (!lifeline->alive)
                 return;  // the client is gone; the batch stays in the saved queue
               backgroundQueue_->async([this, response = std::move(response), eventIds] {
                 handleUploadResponse(response, eventIds);
               });
             });
}

void Amplitude::handleUploadResponse(const HttpResponse& response,
                                     const std::vector<int64_t>& eventIds) {
  bool uploaded = false;
  if (!response.status) {
    if (response.errorCode == HttpResponse::ErrorCode::kNone) {
      SystemLog::write("ERROR: response empty, error empty for NSURLConnection");
    } else {
      const int code = platformErrorCode(response.errorCode);
      if (code != kNotConnectedToInternet && code != kCannotFindHost && code != kTimedOut) {
        SystemLog::write("ERROR: Connection error:" + response.errorMessage);
      }
    }
  } else if (*response.status != 200) {
    SystemLog::write("ERROR: Connection response received:" + std::to_string(*response.status) +
                     ", " + response.body);
  } else if (response.body == "success") {
    uploaded = true;
  } else if (response.body == "invalid_api_key") {
    SystemLog::write(
        "ERROR: Invalid API Key, make sure your API key is correct in initializeApiKey:");
  } else if (response.body == "bad_checksum") {
    SystemLog::write(
        "ERROR: Bad checksum, post request was mangled in transit, will attempt to reupload later");
  } else if (response.body == "request_db_write_failed") {
    SystemLog::write(
        "ERROR: Couldn't write to request database on server, will attempt to reupload later");
  } else {
    SystemLog::write("ERROR: " + response.body + ", will attempt to reupload later");
  }

  size_t remaining = 0;
  {
    std::lock_guard<std::mutex> lock(eventsMutex_);
    json& events = eventsData_["events"];
    if (uploaded) {
      // Exactly the events of this batch leave the queue, wherever they are now: the queue may
      // have changed while the request was out (the oldest dropped at the limit, new ones added).
      const std::set<int64_t> sent(eventIds.begin(), eventIds.end());
      json kept = json::array();
      for (json& event : events) {
        if (!sent.contains(event.value("event_id", int64_t{0}))) kept.push_back(std::move(event));
      }
      events = std::move(kept);
    }
    remaining = events.size();
  }
  saveEventsData().ignoreError();
  finishUpload();
  if (uploaded && remaining > kUploadThreshold) uploadEventsWithLimit(0);
}

void Amplitude::finishUpload() {
  std::lock_guard<std::mutex> lock(stateMutex_);
  updatingCurrently_ = false;
}

json Amplitude::makeJSONSerializable(const json& value) {
  switch (value.type()) {
    case json::value_t::number_float:
      return std::isfinite(value.get<double>()) ? value : json(nullptr);
    case json::value_t::string: {
      const std::string& text = value.get_ref<const std::string&>();
      if (isValidUTF8(text)) return value;
      std::string coerced = readableText(text);
      SystemLog::write(
          "WARNING: Invalid property value type, received non-UTF-8 string, coercing to " +
          coerced);
      return coerced;
    }
    case json::value_t::array: {
      json array = json::array();
      for (const json& element : value) array.push_back(makeJSONSerializable(element));
      return array;
    }
    case json::value_t::object: {
      json object = json::object();
      for (const auto& [key, element] : value.items()) {
        std::string name = key;
        if (!isValidUTF8(key)) {
          name = readableText(key);
          SystemLog::write(
              "WARNING: Non-string property key, received non-UTF-8 string, coercing to " + name);
        }
        object[name] = makeJSONSerializable(element);
      }
      return object;
    }
    case json::value_t::binary: {
      std::string coerced = hexDescription(value.get_binary());
      SystemLog::write("WARNING: Invalid property value type, received binary, coercing to " +
                       coerced);
      return coerced;
    }
    case json::value_t::discarded:
      SystemLog::write(
          "WARNING: Invalid property value type, received discarded, coercing to null");
      return nullptr;
    default:  // null, booleans, integers
      return value;
  }
}

std::string Amplitude::md5HexDigest(const std::string& text) { return Digest::md5Hex(text); }

std::string Amplitude::urlEncodeString(const std::string& text) {
  if (!isValidUTF8(text)) return "";
  // Everything outside the unreserved set is encoded already; the tilde is encoded too.
  std::string encoded;
  for (char c : Url::percentEncode(text)) {
    if (c == '~') {
      encoded += "%7E";
    } else {
      encoded.push_back(c);
    }
  }
  return encoded;
}

}  // namespace zelto
