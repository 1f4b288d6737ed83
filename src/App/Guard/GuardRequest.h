// GuardRequest: one request to the system guard, read strictly from the bytes a client sent (see
// GuardClient for the forms). Anything else — not JSON, nested deeper than a request can be, an
// unknown request or key, a value of the wrong type, a lock that can't be used — is refused
// with what is wrong, so the guard acts only on a whole, well-formed request.
//
// A plain value. Any thread.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string_view>

#include "App/Guard/GuardLock.h"
#include "Platform/Status.h"

namespace zelto {

struct GuardRequest {
  static constexpr int kMaxDepth = 8;

  enum class Kind { kStatus, kLock, kRelease };
  Kind kind = Kind::kStatus;
  std::optional<GuardLock> lock;  // kLock
  std::optional<uid_t> uid;       // kStatus, kRelease: the user named, if any

  static Result<GuardRequest> parse(std::string_view text);
};

}  // namespace zelto
