#include "Platform/ProcessInfo.h"

#include <stdlib.h>
#include <unistd.h>

#include <memory>

namespace zelto {

int ProcessInfo::processIdentifier() { return static_cast<int>(::getpid()); }

std::optional<std::string> ProcessInfo::environmentValue(const std::string& name) {
  const char* value = ::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::optional<std::string> ProcessInfo::currentDirectory() {
  // getcwd with no buffer allocates one of the size needed.
  std::unique_ptr<char, decltype(&::free)> path(::getcwd(nullptr, 0), &::free);
  if (path == nullptr || path.get()[0] != '/') return std::nullopt;
  return std::string(path.get());
}

}  // namespace zelto
