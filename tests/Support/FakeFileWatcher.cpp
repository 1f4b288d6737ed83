#include "Support/FakeFileWatcher.h"

namespace zelto {

class FakeFileWatcher::Watch final : public Registration {
 public:
  Watch(std::weak_ptr<Registry> registry, uint64_t id) : registry_(std::move(registry)), id_(id) {}
  ~Watch() override { cancel(); }

  void cancel() override {
    if (auto registry = registry_.lock()) registry->erase(id_);
    registry_.reset();
  }

 private:
  std::weak_ptr<Registry> registry_;
  uint64_t id_;
};

std::unique_ptr<Registration> FakeFileWatcher::watch(const std::string& path,
                                                     std::function<void()> callback) {
  uint64_t id = nextId_++;
  (*registry_)[id] = Entry{path, std::move(callback)};
  return std::make_unique<Watch>(registry_, id);
}

int FakeFileWatcher::fire(const std::string& path) {
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

std::vector<std::string> FakeFileWatcher::watchedPaths() const {
  std::vector<std::string> paths;
  for (const auto& [id, entry] : *registry_) paths.push_back(entry.path);
  return paths;
}

}  // namespace zelto
