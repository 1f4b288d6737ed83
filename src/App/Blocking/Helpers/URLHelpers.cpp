#include "App/Blocking/Helpers/URLHelpers.h"

#include <algorithm>
#include <string>

#include "Platform/Text.h"

namespace zelto {

namespace {

bool present(const std::optional<std::string>& part) { return part && !part->empty(); }

}  // namespace

bool URLHelpers::isValidURL(const Url& url) {
  return present(url.scheme()) && present(url.host()) && !url.path().empty();
}

bool URLHelpers::isValidEmptyDomain(const Url& url) {
  return present(url.host()) && !url.scheme() && url.path().empty();
}

Result<Url> URLHelpers::URLByNormalizing(std::string_view text) {
  std::string address = Text::trimBlanks(text);
  if (!Text::startsWithIgnoringAsciiCase(address, "http://") &&
      !Text::startsWithIgnoringAsciiCase(address, "https://")) {
    address.insert(0, "http://");
  }
  Result<Url> url = Url::parse(address);
  if (!url.ok()) {
    return url.status().withContext("\"" + std::string(text) + "\" is not a web address");
  }
  if (!url->path().empty()) return url;
  // An http(s) address with a host: its authority ends at the first "?" or "#" after "://", or
  // with the text, and the path "/" goes there.
  const size_t authority = address.find("://") + 3;
  address.insert(std::min(address.find_first_of("?#", authority), address.size()), "/");
  return Url::parse(address);
}

}  // namespace zelto
