#include "App/Helpers/Functional/F.h"

#include <atomic>
#include <mutex>

#include "Platform/Log.h"
#include "Platform/MainThread.h"

namespace zelto {

namespace {

// The process-wide settings: parallel mode off, no queue.
std::atomic<bool> parallelMode{false};
std::mutex queueMutex;
std::shared_ptr<DispatchQueue> configuredQueue;  // guarded by queueMutex

}  // namespace

void F::useConcurrency() {
  log::warning(
      "ATTENTION - USING CONCURRENCY WILL RESULT IN A NON-SEQUENTIAL EXECUTION OF THE PASSED "
      "BLOCKS");
  parallelMode = true;
  useQueue(DispatchQueue::global());
}

void F::dontUseConcurrency() { parallelMode = false; }

void F::useQueue(std::shared_ptr<DispatchQueue> queue) {
  std::lock_guard<std::mutex> lock(queueMutex);
  configuredQueue = std::move(queue);
}

void F::concurrently(const std::function<void()>& block) {
  useConcurrency();
  struct TurnOff {
    ~TurnOff() { dontUseConcurrency(); }
  } turnOff;
  block();
}

void F::concurrently(const std::function<void()>& block, std::shared_ptr<DispatchQueue> queue) {
  useConcurrency();
  useQueue(std::move(queue));
  struct TurnOff {
    ~TurnOff() { dontUseConcurrency(); }
  } turnOff;
  block();
}

bool F::usesConcurrency() { return parallelMode; }

std::shared_ptr<DispatchQueue> F::queue() {
  std::lock_guard<std::mutex> lock(queueMutex);
  return configuredQueue;
}

std::shared_ptr<DispatchQueue> F::parallelQueue() {
  if (!parallelMode) return nullptr;
  return queue();
}

void F::times(int32_t n, const std::function<void()>& block) {
  if (!block) return;
  for (int32_t k = 0; k < n; ++k) block();
}

void F::asynchronously(std::function<void()> block) {
  DispatchQueue::global()->async(std::move(block));
}

void F::onUIThread(const std::function<void()>& block) {
  if (block) MainThread::runAndWait(block);
}

std::vector<int64_t> F::arrayFrom(int64_t a, int64_t b) {
  std::vector<int64_t> result;
  if (a > b) return result;
  for (int64_t i = a;; ++i) {
    result.push_back(i);
    if (i == b) break;  // tested before the increment, so b == INT64_MAX cannot overflow
  }
  return result;
}

}  // namespace zelto
