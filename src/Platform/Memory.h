// Memory: handing memory the program no longer uses back to the system.
//
// Class operations only, no state; any thread.
#pragma once

namespace zelto {

class Memory {
 public:
  // Returns the free pages of the allocator's heaps to the system. Worth a call after a large
  // structure was rebuilt (a block list of many thousand sites), when the memory it was built
  // in would otherwise stay resident; it takes a few milliseconds, so not more often than that.
  static void releaseFree();
};

}  // namespace zelto
