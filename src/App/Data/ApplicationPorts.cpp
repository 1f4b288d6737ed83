#include "App/Data/ApplicationPorts.h"

#include "App/Blocking/Helpers/ZeltoURL.h"
#include "App/Data/Preferences/ZeltoPreferences.h"
#include "Platform/UserDefaults.h"

namespace zelto {

static_assert(ApplicationPorts::kDefaultBlockPagePort == ZeltoURL::kDefaultHttpPort);

namespace {

ApplicationPorts::Port portFrom(std::optional<nlohmann::json> stored, int fallback) {
  ApplicationPorts::Port port;
  port.number = stored ? ApplicationPorts::portNumber(*stored).value_or(fallback) : fallback;
  port.stored = std::move(stored);
  return port;
}

}  // namespace

ApplicationPorts::Port ApplicationPorts::blockPage(const ZeltoPreferences* prefs) {
  return portFrom(prefs != nullptr ? prefs->httpPort : std::nullopt, kDefaultBlockPagePort);
}

ApplicationPorts::Port ApplicationPorts::proxy(UserDefaults& defaults) {
  return portFrom(defaults.objectForKey(kProxyKey), kDefaultProxyPort);
}

std::optional<int> ApplicationPorts::portNumber(const nlohmann::json& value) {
  const int port = ZeltoURL::portNumber(value, 0);
  if (port == 0) return std::nullopt;
  return port;
}

}  // namespace zelto
