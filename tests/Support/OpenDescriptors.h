// OpenDescriptors: the file descriptors this process has open, for tests that check what an
// object opens and closes.
#pragma once

#include <fcntl.h>

#include <filesystem>
#include <set>
#include <string>

namespace zelto::testing {

inline std::set<int> openDescriptors() {
  std::set<int> fds;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    fds.insert(std::stoi(entry.path().filename().string()));
  }
  std::erase_if(fds, [](int fd) { return ::fcntl(fd, F_GETFD) == -1; });  // the listing's own
  return fds;
}

}  // namespace zelto::testing
