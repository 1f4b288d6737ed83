#include "Platform/SecureRandom.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace zelto {

Result<std::string> SecureRandom::hex(size_t count) {
  std::vector<unsigned char> bytes(count);
  size_t filled = 0;
  while (filled < count) {
    const ssize_t got = ::getrandom(bytes.data() + filled, count - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return Status::failure(std::string("No random bytes from the kernel: ") +
                             std::strerror(errno));
    }
    filled += static_cast<size_t>(got);
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(count * 2);
  for (unsigned char byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xf];
  }
  return text;
}

}  // namespace zelto
