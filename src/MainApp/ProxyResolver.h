// ProxyResolver: the name lookups a filtering proxy uses: c-ares on the loop, or, when c-ares
// can't be set up (logged), the system's resolver on libuv's thread pool.
//
// Class operation; the loop's thread. The caller owns what it returns and destroys it before
// the loop.
#pragma once

#include <memory>

#include "Platform/HostResolver.h"
#include "Platform/Linux/UvRunLoop.h"

namespace zelto {

class ProxyResolver {
 public:
  static std::unique_ptr<HostResolver> create(UvRunLoop& loop);
};

}  // namespace zelto
