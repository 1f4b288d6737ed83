// ProxyVerdict: the decider's answer for one proxied request: let it through, send the browser
// elsewhere (the block page), or refuse it with a one-line reason.
//
// A plain value; any thread.
#pragma once

#include <string>

namespace zelto {

struct ProxyVerdict {
  enum class Kind { kPass, kRedirect, kRefuse };
  Kind kind = Kind::kPass;
  std::string location;  // for kRedirect
  std::string reason;    // for kRefuse, one line
};

}  // namespace zelto
