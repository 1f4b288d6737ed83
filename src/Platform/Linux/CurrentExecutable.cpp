#include <limits.h>
#include <unistd.h>

#include "Platform/BundleInfo.h"

namespace zelto {

std::string BundleInfo::currentExecutablePath() {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "";
  return std::string(buffer, static_cast<size_t>(n));
}

}  // namespace zelto
