// ProxyRequest: what the filtering proxy asks its decider about one request.
//
// A plain value; any thread.
#pragma once

#include <string>

namespace zelto {

struct ProxyRequest {
  bool isConnect = false;
  // The normalised URL the decision is about (NormalizedURL::decisionURL): plain HTTP, the
  // request's URL; CONNECT, "https://HOST/" for port 443, else "https://HOST:PORT/" (IPv6 hosts
  // in brackets).
  std::string url;
  // The host the request is forwarded to: lower-case ASCII, an IPv6 address without brackets.
  std::string host;
  int port = 0;
  // The host is a numeric address, not a name.
  bool hostIsAddress = false;
};

}  // namespace zelto
