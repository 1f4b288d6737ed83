// BlockPage: what the local block-page server answers, decided from the request's method and
// target alone: the page shown in place of a blocked address, the proxy auto-configuration
// (PAC) file that sends a browser's requests through the filtering proxy, or 404. It also
// writes the address a blocked request is redirected to (locationFor), so that any blocked
// address, however long, leads to a page this server answers.
//
// The page shows the blocked address (shortened, control characters written out as text,
// HTML-escaped), how long blocking still runs in the controller's words, and one of the default
// profile's quotes. Nothing here touches a socket.
//
// Class operations only; the thread that owns the controller (the main loop).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "App/Blocking/Helpers/ZeltoURL.h"
#include "App/Controller/Zelto.h"
#include "MainApp/HttpResponse.h"

namespace zelto {

struct HttpAnswer {
  HttpAnswer() = default;
  HttpAnswer(int status, std::string contentType, std::string body,
             HttpResponse::Fields fields = {})
      : status(status),
        contentType(std::move(contentType)),
        body(std::move(body)),
        fields(std::move(fields)) {}

  int status = 404;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
  HttpResponse::Fields fields;  // header fields beyond those every answer carries
  // An event stream: the connection stays open after the head and `body` (its first bytes);
  // BlockPageServer::broadcast writes more.
  bool stream = false;
};

class BlockPage {
 public:
  // At most this many bytes of a blocked address travel in the block page's address: percent-
  // encoded (three bytes each at worst) they stay well under the server's 8 KB target limit.
  static constexpr size_t kMaxEmbeddedUrlBytes = 2000;
  // The page shows at most this many characters of the address, then "…".
  static constexpr size_t kMaxShownCharacters = 200;

  // The answer to `method` `target` ("/block/?zelto_url=...", "/proxy.pac"): GET of one of the
  // two, else 404. `quoteIndex` picks the quote shown, taken modulo the number of quotes.
  // `proxyPort` is 0 while the proxy isn't listening: the PAC file is then 503, so that no
  // browser is sent to a port where nothing answers.
  static HttpAnswer respond(Zelto& zelto, std::string_view method, std::string_view target,
                            int proxyPort, size_t quoteIndex);
  // The same answers without a controller (the system guard's proxy): the page says `timeLeft`
  // and shows no quote.
  static HttpAnswer respond(std::string_view method, std::string_view target, int proxyPort,
                            const std::string& timeLeft);

  // Where a request for the blocked `url` is redirected: the block page with the first
  // kMaxEmbeddedUrlBytes of `url` (cut between UTF-8 characters) as its "zelto_url".
  static std::string locationFor(Zelto& zelto, std::string_view url);
  static std::string locationFor(const ZeltoURL& zeltoURL, std::string_view url);

  // Every request through the proxy at 127.0.0.1:`proxyPort`, except those to loopback hosts.
  static std::string pacFile(int proxyPort);
  // How long blocking still runs, for people: "Blocking ends in 24 minutes.", the scheduled
  // end, or that it runs until stopped.
  static std::string timeLeftText(Zelto& zelto);
  // `url` as the page shows it, before HTML escaping: at most kMaxShownCharacters characters
  // and then "…", each control character (below 0x20, and 0x7F) written as "\xNN".
  static std::string shownAddress(std::string_view url);
  // `text` with &, <, >, " and ' replaced by their character references.
  static std::string htmlEscape(std::string_view text);
};

}  // namespace zelto
