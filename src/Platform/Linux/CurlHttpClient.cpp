#include "Platform/Linux/CurlHttpClient.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <map>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "Platform/DispatchQueue.h"
#include "Platform/Linux/CurlLibrary.h"
#include "Platform/Status.h"
#include "Platform/Text.h"

namespace zelto {

namespace {

// The loaded library; only used once a client has found it loaded.
const CurlLibrary& curl() { return *CurlLibrary::get(); }

struct EasyCleanup {
  void operator()(CURL* easy) const { curl().easy_cleanup(easy); }
};
struct MultiCleanup {
  void operator()(CURLM* multi) const { curl().multi_cleanup(multi); }
};
struct ListCleanup {
  void operator()(curl_slist* list) const { curl().slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;
using HeaderList = std::unique_ptr<curl_slist, ListCleanup>;

// How long a drive sleeps at most between looks at its requests while some are in flight;
// `send` wakes it at once, so this only bounds a missed wake-up.
constexpr int kIdlePollMilliseconds = 1000;

HttpResponse failure(HttpResponse::ErrorCode code, std::string message) {
  HttpResponse response;
  response.errorCode = code;
  response.errorMessage = std::move(message);
  return response;
}

bool isTokenCharacter(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool isToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), isTokenCharacter);
}

bool isSafeHeaderValue(std::string_view value) {
  return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

// The request's timeout in whole milliseconds, at least 1: curl reads 0 as "no timeout", which
// a zero, negative or NaN timeout must never become.
long timeoutMilliseconds(double seconds) {
  if (!(seconds > 0)) return 1;
  double ms = std::ceil(seconds * 1000);
  return static_cast<long>(std::min(ms, static_cast<double>(std::numeric_limits<int32_t>::max())));
}

HttpResponse::ErrorCode errorCodeFor(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
      return HttpResponse::ErrorCode::kHostNotFound;
    case CURLE_OPERATION_TIMEDOUT:
      return HttpResponse::ErrorCode::kTimedOut;
    case CURLE_COULDNT_CONNECT:
      return HttpResponse::ErrorCode::kNotConnected;
    default:
      return HttpResponse::ErrorCode::kOther;
  }
}

// One request in flight: its curl handle and everything the handle points at. Kept at a fixed
// address (curl holds pointers to it) from set-up until the completion has been called.
struct Transfer {
  HttpRequest request;
  HttpClient::Completion completion;
  size_t maxBodyBytes = 0;
  EasyHandle easy;
  HeaderList headers;
  std::string body;
  bool bodyTooLarge = false;
  char errorBuffer[CURL_ERROR_SIZE] = {};

  static size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    size_t bytes = size * count;
    if (bytes > transfer->maxBodyBytes - transfer->body.size()) {
      transfer->bodyTooLarge = true;
      return 0;  // curl ends the transfer with a write error
    }
    transfer->body.append(data, bytes);
    return bytes;
  }

  Status setUp() {
    if (!isToken(request.method))
      return Status::failure("invalid method \"" + request.method + "\"");
    for (const auto& [name, value] : request.headers) {
      if (!isToken(name) || !isSafeHeaderValue(value)) {
        return Status::failure("invalid header \"" + name + "\"");
      }
      if (Text::equalsIgnoringAsciiCase(name, "Content-Length") &&
          value != std::to_string(request.body.size())) {
        return Status::failure("Content-Length " + value + " differs from the body's " +
                               std::to_string(request.body.size()) + " bytes");
      }
    }
    easy.reset(curl().easy_init());
    if (!easy) return Status::failure("libcurl could not make a request handle");

    bool hasExpect = false;
    for (const auto& [name, value] : request.headers) {
      // "Name;" is how curl sends a header with an empty value ("Name:" would remove it).
      std::string line = value.empty() ? name + ";" : name + ": " + value;
      if (!appendHeader(line)) return Status::failure("out of memory");
      hasExpect = hasExpect || Text::equalsIgnoringAsciiCase(name, "Expect");
    }
    // curl would otherwise add "Expect: 100-continue" to larger bodies and wait for the server.
    if (!hasExpect && !appendHeader("Expect:")) return Status::failure("out of memory");

    CURL* h = easy.get();
    bool ok = curl().easy_setopt(h, CURLOPT_URL, request.url.c_str()) == CURLE_OK &&
              curl().easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
              curl().easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
              curl().easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
              curl().easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
              curl().easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
              curl().easy_setopt(h, CURLOPT_TIMEOUT_MS,
                                 timeoutMilliseconds(request.timeoutSeconds)) == CURLE_OK &&
              curl().easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE,
                                 static_cast<curl_off_t>(maxBodyBytes)) == CURLE_OK &&
              curl().easy_setopt(h, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
              curl().easy_setopt(h, CURLOPT_WRITEFUNCTION, &Transfer::onBody) == CURLE_OK &&
              curl().easy_setopt(h, CURLOPT_WRITEDATA, this) == CURLE_OK &&
              curl().easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer) == CURLE_OK &&
              curl().easy_setopt(h, CURLOPT_PRIVATE, this) == CURLE_OK;
    if (request.method == "HEAD") {
      ok = ok && curl().easy_setopt(h, CURLOPT_NOBODY, 1L) == CURLE_OK;
    } else if (request.method == "POST" || !request.body.empty()) {
      ok = ok &&
           curl().easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                              static_cast<curl_off_t>(request.body.size())) == CURLE_OK &&
           curl().easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data()) == CURLE_OK;
    }
    if (request.method != "GET" && request.method != "POST" && request.method != "HEAD") {
      ok = ok && curl().easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str()) == CURLE_OK;
    }
    if (!ok) return Status::failure("libcurl refused the request's options");
    return Status();
  }

  bool appendHeader(const std::string& line) {
    curl_slist* list = curl().slist_append(headers.get(), line.c_str());
    if (list == nullptr) return false;
    (void)headers.release();  // now part of `list`
    headers.reset(list);
    return true;
  }

  HttpResponse response(CURLcode result) {
    if (bodyTooLarge || result == CURLE_FILESIZE_EXCEEDED) {
      return failure(HttpResponse::ErrorCode::kOther,
                     "the response body is larger than " + std::to_string(maxBodyBytes) + " bytes");
    }
    if (result != CURLE_OK) {
      std::string message = errorBuffer[0] != '\0' ? errorBuffer : curl().easy_strerror(result);
      return failure(errorCodeFor(result), std::move(message));
    }
    HttpResponse out;
    long status = 0;
    curl().easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    out.status = static_cast<int>(status);
    out.body = std::move(body);
    return out;
  }
};

void complete(HttpClient::Completion& completion, HttpResponse response) {
  if (completion) completion(std::move(response));
}

}  // namespace

struct CurlHttpClient::State {
  size_t maxBodyBytes;
  MultiHandle multi;

  std::mutex mutex;
  std::condition_variable idle;
  std::vector<std::unique_ptr<Transfer>> queue;  // sent, not yet taken by the drive
  bool driving = false;                          // a drive is queued or running
  bool stopping = false;

  void drive();
  void wake() { curl().multi_wakeup(multi.get()); }
};

// Runs on the blocking calls' queue for as long as requests are in flight, then returns: an idle
// client takes no thread and wakes nobody.
void CurlHttpClient::State::drive() {
  std::map<CURL*, std::unique_ptr<Transfer>> active;
  for (;;) {
    std::vector<std::unique_ptr<Transfer>> incoming;
    {
      std::lock_guard<std::mutex> lock(mutex);
      incoming.swap(queue);
      if (incoming.empty() && active.empty()) {
        driving = false;
        idle.notify_all();
        return;
      }
    }
    for (auto& transfer : incoming) {
      Status setUp = transfer->setUp();
      if (setUp.ok() && curl().multi_add_handle(multi.get(), transfer->easy.get()) != CURLM_OK) {
        setUp = Status::failure("libcurl could not start the request");
      }
      if (!setUp.ok()) {
        complete(transfer->completion, failure(HttpResponse::ErrorCode::kOther, setUp.message()));
        continue;
      }
      CURL* easy = transfer->easy.get();
      active.emplace(easy, std::move(transfer));
    }

    int running = 0;
    curl().multi_perform(multi.get(), &running);
    int left = 0;
    while (CURLMsg* message = curl().multi_info_read(multi.get(), &left)) {
      if (message->msg != CURLMSG_DONE) continue;
      auto it = active.find(message->easy_handle);
      if (it == active.end()) continue;
      CURLcode result = message->data.result;
      std::unique_ptr<Transfer> done = std::move(it->second);
      active.erase(it);
      curl().multi_remove_handle(multi.get(), done->easy.get());
      HttpResponse response = done->response(result);
      complete(done->completion, std::move(response));
    }
    if (active.empty()) continue;  // done, unless more were sent meanwhile
    // Sleeps until a socket is ready, curl's next timeout, or a wake-up from `send`.
    curl().multi_poll(multi.get(), nullptr, 0, kIdlePollMilliseconds, nullptr);
  }
}

CurlHttpClient::CurlHttpClient(size_t maxBodyBytes) : state_(std::make_shared<State>()) {
  state_->maxBodyBytes = maxBodyBytes;
  if (CurlLibrary::get() == nullptr) return;  // logged; every request fails, saying why
  state_->multi.reset(curl().multi_init());
}

CurlHttpClient::~CurlHttpClient() {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->stopping = true;
  // Destroyed by a completion: the drive finishes alone, with its own reference to the state.
  if (DispatchQueue::blocking().isCurrent()) return;
  state_->idle.wait(lock, [&] { return !state_->driving; });
}

void CurlHttpClient::send(HttpRequest request, Completion completion) {
  auto transfer = std::make_unique<Transfer>();
  transfer->request = std::move(request);
  transfer->completion = std::move(completion);
  transfer->maxBodyBytes = state_->maxBodyBytes;
  bool startDrive = false;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->multi && !state_->stopping) {
      state_->queue.push_back(std::move(transfer));
      startDrive = !state_->driving;
      state_->driving = true;
    }
  }
  if (!transfer) {
    if (startDrive) {
      DispatchQueue::blocking().async([state = state_] { state->drive(); });
    } else {
      state_->wake();
    }
    return;
  }
  complete(transfer->completion,
           failure(HttpResponse::ErrorCode::kOther,
                   !CurlLibrary::load().ok()
                       ? "libcurl is unavailable: " + CurlLibrary::load().status().message()
                       : std::string("the HTTP client is not running")));
}

HttpClient& HttpClient::standard() {
  static CurlHttpClient* client = new CurlHttpClient();
  return *client;
}

}  // namespace zelto
