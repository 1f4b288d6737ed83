#include "Platform/Digest.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

// libmd: the message digests alone, without a whole crypto library mapped for them.
#include <md5.h>
#include <sha2.h>

#include "Platform/Linux/FileDescriptor.h"

namespace zelto {

namespace {

constexpr size_t kChunkBytes = 1 << 20;

std::string hex(const uint8_t* digest, size_t length) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(length * 2);
  for (size_t i = 0; i < length; ++i) {
    text.push_back(kHex[digest[i] >> 4]);
    text.push_back(kHex[digest[i] & 0x0f]);
  }
  return text;
}

}  // namespace

std::string Digest::md5Hex(const std::string& bytes) {
  MD5_CTX context;
  MD5Init(&context);
  MD5Update(&context, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  uint8_t digest[MD5_DIGEST_LENGTH];
  MD5Final(digest, &context);
  return hex(digest, sizeof digest);
}

Result<std::string> Digest::sha256HexOfFile(const std::string& path) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!file.valid()) return Status::fromErrno("Can't read " + path);
  SHA2_CTX context;
  SHA256Init(&context);
  std::vector<uint8_t> chunk(kChunkBytes);
  for (;;) {
    Result<size_t> length = file.read(chunk.data(), chunk.size());
    if (!length.ok()) return length.status().withContext("Can't read " + path);
    if (*length == 0) break;
    SHA256Update(&context, chunk.data(), *length);
  }
  uint8_t digest[SHA256_DIGEST_LENGTH];
  SHA256Final(digest, &context);
  return hex(digest, sizeof digest);
}

}  // namespace zelto
