// Digest: message digests of byte strings and of files, in text form.
//
// Class operations only, no state; any thread.
#pragma once

#include <string>

#include "Platform/Status.h"

namespace zelto {

class Digest {
 public:
  // The MD5 digest of `bytes` as 32 lower-case hexadecimal digits.
  static std::string md5Hex(const std::string& bytes);

  // The SHA-256 digest of the file at `path` (links followed) as 64 lower-case hexadecimal
  // digits. The file is read in chunks of a fixed size, so a file of any size costs a bounded
  // amount of memory. A failure when it can't be opened or read.
  static Result<std::string> sha256HexOfFile(const std::string& path);
};

}  // namespace zelto
