#include "Platform/Memory.h"

#include <malloc.h>

#include <atomic>

namespace zelto {

namespace {
std::atomic<bool> keepFreed{false};
}  // namespace

// glibc's malloc_trim releases every whole free page, also those between used blocks, not only
// the top of the heap.
void Memory::releaseFree() {
  if (!keepFreed.load(std::memory_order_relaxed)) malloc_trim(0);
}

void Memory::keepFreedMemoryUntilExit() {
  keepFreed.store(true, std::memory_order_relaxed);
  // Blocks of any size (a configuration of megabytes read, parsed and written) come from the
  // heap and go back to it, and the heap's top is never trimmed.
  constexpr int kLargest = 32 * 1024 * 1024;  // the most glibc takes for the first
  mallopt(M_MMAP_THRESHOLD, kLargest);
  mallopt(M_TRIM_THRESHOLD, kLargest);
  mallopt(M_TOP_PAD, 1024 * 1024);
}

}  // namespace zelto
