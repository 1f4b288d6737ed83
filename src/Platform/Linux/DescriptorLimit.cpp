#include "Platform/Linux/DescriptorLimit.h"

#include <sys/resource.h>

#include <filesystem>
#include <system_error>

namespace zelto {

size_t DescriptorLimit::raise() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  // An unlimited hard limit still leaves the kernel's; nothing here needs more than this.
  constexpr rlim_t kEnough = 1 << 20;
  return static_cast<size_t>(limit.rlim_cur == RLIM_INFINITY ? kEnough
                                                             : std::min(limit.rlim_cur, kEnough));
}

size_t DescriptorLimit::openNow() {
  std::error_code error;
  size_t count = 0;
  for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
       it.increment(error)) {
    ++count;
  }
  return count;
}

size_t DescriptorLimit::forConnections(size_t limit, size_t openNow) {
  const size_t reserve = openNow + 16 + limit / 16;
  return limit > reserve ? limit - reserve : 0;
}

}  // namespace zelto
