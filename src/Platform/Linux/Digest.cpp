#include "Platform/Digest.h"

// libmd: the message digests alone, without a whole crypto library mapped for them.
#include <md5.h>

namespace zelto {

std::string Digest::md5Hex(const std::string& bytes) {
  MD5_CTX context;
  MD5Init(&context);
  MD5Update(&context, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  uint8_t digest[MD5_DIGEST_LENGTH];
  MD5Final(digest, &context);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(sizeof(digest) * 2);
  for (uint8_t byte : digest) {
    text.push_back(kHex[byte >> 4]);
    text.push_back(kHex[byte & 0x0f]);
  }
  return text;
}

}  // namespace zelto
