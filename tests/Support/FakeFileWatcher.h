// FakeFileWatcher: a FileWatcher for tests. It watches nothing on disk; it remembers the paths
// being watched and calls their callbacks when a test says a file changed (`fire`).
//
// Ownership: handles may outlive the fake (they then do nothing). A destroyed or cancelled
// handle is forgotten at once. Threads: one thread, the test's.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Platform/FileWatcher.h"

namespace zelto {

class FakeFileWatcher final : public FileWatcher {
 public:
  std::unique_ptr<Registration> watch(const std::string& path,
                                      std::function<void()> callback) override;

  // Calls, once each, the callbacks of the watches on `path` that are live now (a callback may
  // cancel watches or start new ones). Returns how many were called.
  int fire(const std::string& path);

  // The paths of the live watches, in the order the watches began (a path once per watch).
  std::vector<std::string> watchedPaths() const;

 private:
  class Watch;
  struct Entry {
    std::string path;
    std::function<void()> callback;
  };
  using Registry = std::map<uint64_t, Entry>;

  std::shared_ptr<Registry> registry_ = std::make_shared<Registry>();
  uint64_t nextId_ = 1;
};

}  // namespace zelto
