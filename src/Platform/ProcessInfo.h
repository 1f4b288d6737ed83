// ProcessInfo: facts about the running process.
//
// Thread safety: any thread.
#pragma once

#include <optional>
#include <string>

namespace zelto {

class ProcessInfo {
 public:
  static int processIdentifier();
  // The value of an environment variable, or nothing when it is not set.
  static std::optional<std::string> environmentValue(const std::string& name);
};

}  // namespace zelto
