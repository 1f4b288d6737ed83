#include "App/Helpers/NUIFileMonitor.h"

namespace zelto {

std::unique_ptr<Registration> NUIFileMonitor::watch(FileWatcher& watcher, const std::string& path,
                                                    std::function<void()> callback) {
  return watcher.watch(path, std::move(callback));
}

}  // namespace zelto
