// Digest: message digests of byte strings, in text form.
//
// Class operations only, no state; any thread.
#pragma once

#include <string>

namespace zelto {

class Digest {
 public:
  // The MD5 digest of `bytes` as 32 lower-case hexadecimal digits. Empty only if the crypto
  // library fails, which it does not for MD5 on a working system.
  static std::string md5Hex(const std::string& bytes);
};

}  // namespace zelto
