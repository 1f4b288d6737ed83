// ProxyRequest: what the filtering proxy asks its decider about one request.
//
// A plain value; any thread.
#pragma once

#include <string>

namespace zelto {

struct ProxyRequest {
  bool isConnect = false;
  // Plain HTTP: the absolute URL of the request line ("http://host[:port]/path?q"). CONNECT:
  // "https://HOST/" for port 443, else "https://HOST:PORT/" (IPv6 hosts in brackets).
  std::string url;
  std::string host;
  int port = 0;
};

}  // namespace zelto
