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
  // The absolute path of the working directory, or nothing when it can't be told (removed, or
  // not reachable).
  static std::optional<std::string> currentDirectory();
};

}  // namespace zelto
