// Digest: message digests of byte strings, in text form.
//
// Class operations only, no state; any thread.
#pragma once

#include <string>

namespace zelto {

class Digest {
 public:
  // The MD5 digest of `bytes` as 32 lower-case hexadecimal digits.
  static std::string md5Hex(const std::string& bytes);
};

}  // namespace zelto
