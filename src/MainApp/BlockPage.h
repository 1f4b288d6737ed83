// BlockPage: what the local block-page server answers, decided from the request's method and
// target alone: the page shown in place of a blocked address, the proxy auto-configuration
// (PAC) file that sends a browser's requests through the filtering proxy, or 404.
//
// The page shows the blocked address (HTML-escaped), how long blocking still runs in the
// controller's words, and one of the default profile's quotes. Nothing here touches a socket.
//
// Class operations only; the thread that owns the controller (the main loop).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "App/Controller/Zelto.h"

namespace zelto {

struct HttpAnswer {
  int status = 404;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
};

class BlockPage {
 public:
  // The proxy's port when the user default "ProxyPort" doesn't say.
  static constexpr int kDefaultProxyPort = 8920;

  // The answer to `method` `target` ("/block/?zelto_url=...", "/proxy.pac"): GET of one of the
  // two, else 404. `quoteIndex` picks the quote shown, taken modulo the number of quotes.
  static HttpAnswer respond(Zelto& zelto, std::string_view method, std::string_view target,
                            int proxyPort, size_t quoteIndex);

  // Every request through the proxy at 127.0.0.1:`proxyPort`, except those to loopback hosts.
  static std::string pacFile(int proxyPort);
  // How long blocking still runs, for people: "Blocking ends in 24 minutes.", the scheduled
  // end, or that it runs until stopped.
  static std::string timeLeftText(Zelto& zelto);
  // `text` with &, <, >, " and ' replaced by their character references.
  static std::string htmlEscape(std::string_view text);
};

}  // namespace zelto
