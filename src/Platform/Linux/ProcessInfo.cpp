#include "Platform/ProcessInfo.h"

#include <stdlib.h>
#include <unistd.h>

namespace zelto {

int ProcessInfo::processIdentifier() { return static_cast<int>(::getpid()); }

std::optional<std::string> ProcessInfo::environmentValue(const std::string& name) {
  const char* value = ::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace zelto
