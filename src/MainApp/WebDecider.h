// WebDecider: what the web side serves. For the filtering proxy, the verdict on each request:
// while blocking is enforced, a blocked address is sent to the block page (a tunnel to a
// blocked host is refused), and a request to a bare address is blocked as any blocked host last
// seen at that address would be (BlockedAddresses); everything else, and everything outside
// enforcement, passes. For the block page server, its answers (BlockPage), with the running
// proxy's port and the next quote in turn.
//
// Ownership: owned by the application's delegate; the controller, the address table and the two
// functions it is given outlive it. Threads: the main loop's.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "App/Controller/Zelto.h"
#include "MainApp/BlockPage.h"
#include "MainApp/BlockedAddresses.h"
#include "MainApp/ProxyRequest.h"
#include "MainApp/ProxyVerdict.h"

namespace zelto {

class WebDecider {
 public:
  // Whether blocking is enforced now (not off, not on a break).
  using Enforcing = std::function<bool()>;
  // The port the proxy listens on; 0 while it doesn't.
  using ProxyPort = std::function<int()>;

  WebDecider(Zelto& zelto, BlockedAddresses& addresses, Enforcing enforcing, ProxyPort proxyPort);

  ProxyVerdict decide(const ProxyRequest& request);
  HttpAnswer blockPage(const std::string& method, const std::string& target);

 private:
  bool isBlocked(const ProxyRequest& request);

  Zelto& zelto_;
  BlockedAddresses& addresses_;
  Enforcing enforcing_;
  ProxyPort proxyPort_;
  size_t quoteIndex_ = 0;
};

}  // namespace zelto
