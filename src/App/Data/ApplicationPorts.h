// ApplicationPorts: the two ports the main application listens on, each read from where it is
// kept: the block page's under "httpPort" in the configuration record (8919 when absent), the
// filtering proxy's under the user default "ProxyPort" of the main application's domain,
// "Quarnix.zelto" (8920 when absent). A stored value that is no port (not a whole number from 1
// to 65535) counts as absent; the answer says so, for the caller to tell.
//
// The application reads both through it, and zeltoctl shows and sets them through it.
//
// Class operations only, no state of its own. Threads: the block page's port on the thread that
// owns the record; the proxy's on any thread (UserDefaults locks).
#pragma once

#include <nlohmann/json.hpp>
#include <optional>

#include "App/Data/BundleIdentifiers.h"

namespace zelto {

class UserDefaults;
class ZeltoPreferences;

class ApplicationPorts {
 public:
  static constexpr const char* kDomain = BundleIdentifiers::kMain;
  static constexpr const char* kBlockPageKey = "httpPort";
  static constexpr const char* kProxyKey = "ProxyPort";
  static constexpr int kDefaultBlockPagePort = 8919;
  static constexpr int kDefaultProxyPort = 8920;

  struct Port {
    int number = 0;                        // the port in use
    std::optional<nlohmann::json> stored;  // what is stored, when anything is
    // Something is stored that is no port (`number` is then the default).
    bool storedIsNoPort() const { return stored && !isPort(*stored); }
  };

  // From the record (none: the default).
  static Port blockPage(const ZeltoPreferences* prefs);
  // From `defaults`, which reads the main application's domain.
  static Port proxy(UserDefaults& defaults);

  // The port `value` names, when it names one.
  static std::optional<int> portNumber(const nlohmann::json& value);
  static bool isPort(const nlohmann::json& value) { return portNumber(value).has_value(); }
};

}  // namespace zelto
