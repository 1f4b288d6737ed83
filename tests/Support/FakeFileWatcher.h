// FakeFileWatcher: a FileWatcher for tests. It watches nothing on disk; it remembers the paths
// being watched and calls their callbacks when a test says a file changed (`fire`).
//
// Ownership: handles may outlive the fake (they then do nothing). A destroyed or cancelled
// handle is forgotten at once. Threads: one thread, the test's.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Platform/FileWatcher.h"

namespace zelto {

class FakeFileWatcher final : public FileWatcher {
 public:
  std::unique_ptr<Registration> watch(const std::string& path,
                                      std::function<void()> callback) override {
    uint64_t id = nextId_++;
    (*registry_)[id] = Entry{path, std::move(callback)};
    return std::make_unique<Watch>(registry_, id);
  }

  // Calls, once each, the callbacks of the watches on `path` that are live now (a callback may
  // cancel watches or start new ones). Returns how many were called.
  int fire(const std::string& path) {
    std::vector<uint64_t> due;
    for (const auto& [id, entry] : *registry_) {
      if (entry.path == path) due.push_back(id);
    }
    int called = 0;
    for (uint64_t id : due) {
      auto found = registry_->find(id);
      if (found == registry_->end()) continue;  // cancelled by an earlier callback
      std::function<void()> callback = found->second.callback;
      ++called;
      if (callback) callback();
    }
    return called;
  }

  // The paths of the live watches, in the order the watches began (a path once per watch).
  std::vector<std::string> watchedPaths() const {
    std::vector<std::string> paths;
    for (const auto& [id, entry] : *registry_) paths.push_back(entry.path);
    return paths;
  }

 private:
  struct Entry {
    std::string path;
    std::function<void()> callback;
  };
  using Registry = std::map<uint64_t, Entry>;
  class Watch final : public Registration {
   public:
    Watch(std::weak_ptr<Registry> registry, uint64_t id)
        : registry_(std::move(registry)), id_(id) {}
    ~Watch() override { cancel(); }
    void cancel() override {
      if (auto registry = registry_.lock()) registry->erase(id_);
      registry_.reset();
    }

   private:
    std::weak_ptr<Registry> registry_;
    uint64_t id_;
  };

  std::shared_ptr<Registry> registry_ = std::make_shared<Registry>();
  uint64_t nextId_ = 1;
};

}  // namespace zelto
