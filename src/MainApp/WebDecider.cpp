#include "MainApp/WebDecider.h"

#include <algorithm>

#include "App/Blocking/Helpers/NormalizedURL.h"
#include "Platform/Log.h"

namespace zelto {

WebDecider::WebDecider(Zelto& zelto, BlockedAddresses& addresses, Enforcing enforcing,
                       ProxyPort proxyPort)
    : zelto_(zelto),
      addresses_(addresses),
      enforcing_(std::move(enforcing)),
      proxyPort_(std::move(proxyPort)) {}

HttpAnswer WebDecider::blockPage(const std::string& method, const std::string& target) {
  return BlockPage::respond(zelto_, method, target, proxyPort_(), quoteIndex_++);
}

bool WebDecider::isBlocked(const ProxyRequest& request) {
  if (zelto_.urlIsBlocked(request.url)) return true;
  if (!request.hostIsAddress) return false;
  // An address is blocked as any of the blocked hosts last seen there would be.
  const std::vector<std::string> names = addresses_.hostsAt(request.host);
  if (names.empty()) return false;
  Result<NormalizedURL> url = NormalizedURL::parse(request.url);
  if (!url.ok()) return false;
  return std::any_of(names.begin(), names.end(), [&](const std::string& name) {
    return zelto_.urlIsBlocked(url->withHost(name).decisionURL());
  });
}

ProxyVerdict WebDecider::decide(const ProxyRequest& request) {
  ProxyVerdict verdict;
  verdict.kind = ProxyVerdict::Kind::kPass;
  if (!enforcing_()) return verdict;
  if (!isBlocked(request)) return verdict;
  if (request.isConnect) {
    verdict.kind = ProxyVerdict::Kind::kRefuse;
    verdict.reason = "Zelto blocks " + request.host + " until blocking ends.";
  } else {
    verdict.kind = ProxyVerdict::Kind::kRedirect;
    verdict.location = BlockPage::locationFor(zelto_, request.url);
  }
  log::debug("Blocked {}", request.url);
  return verdict;
}

}  // namespace zelto
