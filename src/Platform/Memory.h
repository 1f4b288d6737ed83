// Memory: handing memory the program no longer uses back to the system.
//
// Class operations only; any thread.
#pragma once

namespace zelto {

class Memory {
 public:
  // Returns the free pages of the allocator's heaps to the system. Worth a call after a large
  // structure was rebuilt (a block list of many thousand sites), when the memory it was built
  // in would otherwise stay resident; it takes a few milliseconds, so not more often than that.
  // Does nothing in a program that said it keeps its memory.
  static void releaseFree();

  // For a program that does one piece of work and exits: memory freed is kept for the next
  // allocation instead of going back to the system (where taking it again costs a fault per
  // page), large blocks included, and the heap's first growth is a reserve of tens of megabytes
  // backed by huge pages where the system gives them. Call once, at the start of main.
  static void keepFreedMemoryUntilExit();
};

}  // namespace zelto
