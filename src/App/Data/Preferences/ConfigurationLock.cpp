#include "App/Data/Preferences/ConfigurationLock.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "Platform/FileLock.h"

namespace zelto {

// One per lock file in the process: the threads of the process queue on `mutex`, and the first
// holder takes the file lock for them all.
struct ConfigurationLock::Holder {
  // Taken by polling try_lock, like the file lock: a timed wait on a mutex is a call that
  // ThreadSanitizer doesn't follow, and the wait is bounded either way.
  std::recursive_mutex mutex;
  int depth = 0;  // guarded by `mutex`
  std::optional<FileLock> file;
};

namespace {

std::shared_ptr<ConfigurationLock::Holder> holderFor(const std::string& lockPath) {
  static std::mutex guard;
  static auto* holders = new std::map<std::string, std::weak_ptr<ConfigurationLock::Holder>>();
  std::lock_guard lock(guard);
  auto& slot = (*holders)[lockPath];
  auto holder = slot.lock();
  if (!holder) {
    holder = std::make_shared<ConfigurationLock::Holder>();
    slot = holder;
  }
  return holder;
}

}  // namespace

Result<ConfigurationLock> ConfigurationLock::acquire(const std::string& configPath,
                                                     std::chrono::milliseconds wait) {
  const std::string lockPath = lockPathFor(configPath);
  std::shared_ptr<Holder> holder = holderFor(lockPath);
  const auto deadline = std::chrono::steady_clock::now() + wait;
  auto pause = std::chrono::milliseconds(1);
  while (!holder->mutex.try_lock()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return Status::failure("Another writer in this program kept " + lockPath +
                             " locked for too long");
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
  if (holder->depth == 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    Result<FileLock> file =
        FileLock::acquire(lockPath, std::max(left, std::chrono::milliseconds(0)));
    if (!file.ok()) {
      holder->mutex.unlock();
      return file.status();
    }
    holder->file.emplace(std::move(file).value());
  }
  ++holder->depth;
  return ConfigurationLock(std::move(holder));
}

ConfigurationLock::~ConfigurationLock() {
  if (!holder_) return;  // moved from
  if (--holder_->depth == 0) holder_->file.reset();
  holder_->mutex.unlock();
}

}  // namespace zelto
