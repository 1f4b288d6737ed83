// URLHelpers: tests and normalisation of URLs that site handling relies on.
//
// Class operations only, no state: any thread.
#pragma once

#include <string_view>

#include "Platform/Status.h"
#include "Platform/Url.h"

namespace zelto {

class URLHelpers {
 public:
  URLHelpers() = delete;

  // Scheme, host and path all present and not empty: "http://a.com/" is valid, "http://a.com"
  // is not.
  static bool isValidURL(const Url& url);
  // A host without scheme or path: "//a.com".
  static bool isValidEmptyDomain(const Url& url);
  // What a user typed, as a URL: blanks trimmed at both ends, "http://" put first unless the
  // text begins with "http://" or "https://" (in any case: "httpbin.org" gets one too), and the
  // path "/" when there is none. A failure when the text still isn't a URL (naming the text).
  static Result<Url> URLByNormalizing(std::string_view text);
};

}  // namespace zelto
