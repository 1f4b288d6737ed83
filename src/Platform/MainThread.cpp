#include "Platform/MainThread.h"

#include <future>
#include <mutex>
#include <thread>

namespace zelto {

namespace {
std::mutex mutex;
std::thread::id mainThreadId = std::this_thread::get_id();
MainThread::Executor executor;
}  // namespace

void MainThread::markCurrentThread() {
  std::lock_guard<std::mutex> lock(mutex);
  mainThreadId = std::this_thread::get_id();
}

bool MainThread::isMainThread() {
  std::lock_guard<std::mutex> lock(mutex);
  return mainThreadId == std::this_thread::get_id();
}

void MainThread::setExecutor(Executor newExecutor) {
  std::lock_guard<std::mutex> lock(mutex);
  executor = std::move(newExecutor);
}

void MainThread::runAndWait(const Task& task) {
  Executor post;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (mainThreadId != std::this_thread::get_id()) post = executor;
  }
  if (!post) {
    task();
    return;
  }
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  post([&task, &done] {
    task();
    done.set_value();
  });
  finished.wait();
}

}  // namespace zelto
