// ProgramDefaults: the user defaults of one of Zelto's programs as that program keeps them: the
// domain's property list in the preferences folder (see PlistDefaultsStore). zeltoctl reads and
// writes the agent's ("Quarnix.zelto.agent") and the main application's ("Quarnix.zelto")
// settings through it.
//
// Class operations only; the main thread.
#pragma once

#include <memory>
#include <string>

#include "App/Data/BundleIdentifiers.h"
#include "Platform/UserDefaults.h"

namespace zelto {

class ProgramDefaults {
 public:
  static constexpr const char* kAgentDomain = BundleIdentifiers::kAgent;
  static constexpr const char* kApplicationDomain = BundleIdentifiers::kMain;

  // The domain's settings alone (no suite).
  static std::unique_ptr<UserDefaults> of(const std::string& domain);
  // The file they are kept in; "(unknown)" when the preferences folder is unknown.
  static std::string fileOf(const std::string& domain);
};

}  // namespace zelto
