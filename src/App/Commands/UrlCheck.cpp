#include "App/Commands/UrlCheck.h"

#include "App/Blocking/Helpers/ZeltoURLMatcher.h"

namespace zelto {

nlohmann::json UrlCheck::explain(Zelto& zelto, const std::string& url) {
  const ZeltoURLMatcherManager::Decision decision = zelto.urlMatchManager().decide(url);
  const std::string pattern = decision.matcher != nullptr ? decision.matcher->originalPattern()
                              : decision.rank == 5        ? "(no match)"
                                                          : "(block page)";
  return {
      {"url", url}, {"blocked", decision.blocked}, {"rank", decision.rank}, {"pattern", pattern}};
}

}  // namespace zelto
