// DescriptorLimit: how many file descriptors this process may open, raised as far as it may go,
// and how many of them servers can count on for connections.
//
// Class operations only; call `raise` once at start, from the main thread, before servers
// listen.
#pragma once

#include <cstddef>

namespace zelto {

class DescriptorLimit {
 public:
  // Raises the soft limit on open descriptors to the hard one; answers the soft limit now in
  // force (after a failure to raise it, the one that was).
  static size_t raise();
  // The descriptors open in this process now (from /proc/self/fd).
  static size_t openNow();
  // Of `limit`, what connections may use: the rest stays free for files, logs, lookups and the
  // processes this program watches (those open now, and a share of the limit beyond them).
  static size_t forConnections(size_t limit, size_t openNow);
};

}  // namespace zelto
