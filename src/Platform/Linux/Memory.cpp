#include "Platform/Memory.h"

#include <malloc.h>

namespace zelto {

// glibc's malloc_trim releases every whole free page, also those between used blocks, not only
// the top of the heap.
void Memory::releaseFree() { malloc_trim(0); }

}  // namespace zelto
