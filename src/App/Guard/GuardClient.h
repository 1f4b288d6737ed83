// GuardClient: how the user's programs (zeltoctl, the application) talk to the system guard:
// one JSON request per connection to its socket, one JSON answer.
//
// The socket is $ZELTO_GUARD_SOCKET when that is set, else /run/zelto-guard.sock. Requests:
//   {"request": "status"}                      what the guard holds for the caller
//   {"request": "lock", "lock": {GuardLock}}   lock, or tighten the caller's lock
//   {"request": "release", "uid": N}           root only: end a user's lock
// Every answer has "ok"; a refusal has "ok": false and "error" (the reason), and "refused": true
// when the request was understood and turned down. Who asks is told by the kernel to the guard,
// never by the request.
//
// Class operations only; any thread (each call blocks for at most a few seconds).
#pragma once

#include <sys/types.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "App/Guard/GuardLock.h"
#include "Platform/Status.h"

namespace zelto {

class GuardClient {
 public:
  static constexpr const char* kDefaultSocket = "/run/zelto-guard.sock";
  static constexpr uint64_t kMaxAnswerBytes = 64ull << 20;

  static std::string socketPath();

  // The guard's answer. An unavailable failure when no guard listens (it is optional); any
  // other failure when it can't be reached or its answer isn't a JSON object.
  static Result<nlohmann::json> ask(const nlohmann::json& request);

  static Result<nlohmann::json> status() { return ask({{"request", "status"}}); }
  static Result<nlohmann::json> lock(const GuardLock& lock) {
    return ask({{"request", "lock"}, {"lock", lock.toJson()}});
  }
  static Result<nlohmann::json> release(std::optional<uid_t> uid) {
    nlohmann::json request{{"request", "release"}};
    if (uid) request["uid"] = *uid;
    return ask(request);
  }
};

}  // namespace zelto
