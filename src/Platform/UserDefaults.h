// UserDefaults: small per-application settings, kept by domain.
//
// Reads search the process's own domain first, then each suite in the order added. Writes go
// to the own domain and stay in memory until `synchronize` stores them; a failed store keeps
// them in memory (and pending) so a later synchronize can try again. A domain without pending
// changes is reloaded whenever its stored copy changed, so settings written by another process
// (zeltoctl, the main application) are seen at the next read.
//
// The domain "com.apple.menuextra.clock", read with `persistentDomainForName`, answers a
// "DateFormat" derived from the user's locale when none is stored ("H:mm" for locales that
// show 24-hour times, else "h:mm a"), so that 12- or 24-hour display follows the locale.
//
// Ownership: `standard()` is the process's instance (see Env); tests make their own over an
// InMemoryDefaultsStore. Thread safety: any thread; one lock guards the instance.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "Platform/DefaultsStore.h"
#include "Platform/Status.h"

namespace zelto {

class UserDefaults {
 public:
  UserDefaults(std::string domain, std::shared_ptr<DefaultsStore> store);

  // The process's standard user defaults (Env::standardUserDefaults()).
  static UserDefaults& standard();

  const std::string& domain() const { return domain_; }

  void addSuiteNamed(const std::string& suite);

  std::optional<nlohmann::json> objectForKey(const std::string& key);
  // The value when it is a text; nothing otherwise.
  std::optional<std::string> stringForKey(const std::string& key);
  // The same from the own domain alone, for settings that belong to this program only: no
  // suite is searched.
  std::optional<nlohmann::json> ownObjectForKey(const std::string& key);
  std::optional<std::string> ownStringForKey(const std::string& key);

  // Sets a value in the own domain; a null value removes the key.
  void setObject(const nlohmann::json& value, const std::string& key);
  void removeObjectForKey(const std::string& key);

  // Stores pending changes; a failure with the store's reason when it refused them (they stay
  // pending).
  Status synchronize();

  // Another domain's stored settings, as a whole (an empty object when none).
  nlohmann::json persistentDomainForName(const std::string& domain);

  // "H:mm" or "h:mm a" for the given ICU locale ("" is the default locale).
  static std::string localeClockFormat(const std::string& locale = "");

 private:
  struct Domain {
    nlohmann::json stored = nlohmann::json::object();
    std::string stamp;
    bool loaded = false;
    std::map<std::string, std::optional<nlohmann::json>> pending;  // nullopt: removed
  };

  // The domain's values with pending changes applied, reloaded from the store when needed.
  nlohmann::json valuesLocked(const std::string& name);

  std::string domain_;
  std::shared_ptr<DefaultsStore> store_;
  std::mutex mutex_;
  std::vector<std::string> suites_;
  std::map<std::string, Domain> domains_;
};

}  // namespace zelto
