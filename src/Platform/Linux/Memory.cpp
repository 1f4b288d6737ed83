#include "Platform/Memory.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

namespace zelto {

namespace {
std::atomic<bool> keepFreed{false};

constexpr std::uintptr_t kHugePage = 2 * 1024 * 1024;
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
  constexpr int kReserve = 32 * 1024 * 1024;
  mallopt(M_MMAP_THRESHOLD, kLargest);
  mallopt(M_TRIM_THRESHOLD, 2 * kReserve);
  mallopt(M_TOP_PAD, kReserve);
  // The heap grows once, by the reserve, and the reserve is backed by huge pages where the
  // system gives them on request: a fault per 2 MB instead of one per 4 KB page touched. For a
  // program that reads and writes a configuration of megabytes once, those faults are most of
  // its time. Where huge pages are off, the advice changes nothing.
  void* volatile first = std::malloc(256 * 1024);  // volatile: kept, not folded away
  std::free(first);
  auto top = reinterpret_cast<std::uintptr_t>(sbrk(0));
  std::uintptr_t end = top & ~(kHugePage - 1);
  std::uintptr_t begin = (top - kReserve + kHugePage - 1) & ~(kHugePage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace zelto
