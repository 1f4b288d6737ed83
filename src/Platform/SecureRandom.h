// SecureRandom: unpredictable bytes from the kernel (getrandom(2)), for secrets and one-time
// tokens.
//
// Class operations only; any thread.
#pragma once

#include <cstddef>
#include <string>

#include "Platform/Status.h"

namespace zelto {

class SecureRandom {
 public:
  // `count` random bytes as lower-case hexadecimal (2 * count characters). Fails only when the
  // kernel gives no randomness.
  static Result<std::string> hex(size_t count);
};

}  // namespace zelto
