#include "App/Commands/ProgramDefaults.h"

#include "Platform/DefaultsStore.h"
#include "Platform/Directories.h"
#include "Platform/Env.h"

namespace zelto {

namespace {

std::shared_ptr<PlistDefaultsStore> store() {
  return std::make_shared<PlistDefaultsStore>(
      Env::fileSystem(), [] { return Env::directories().preferencesDirectory(); });
}

}  // namespace

std::unique_ptr<UserDefaults> ProgramDefaults::of(const std::string& domain) {
  return std::make_unique<UserDefaults>(domain, store());
}

std::string ProgramDefaults::fileOf(const std::string& domain) {
  return store()->pathForDomain(domain).value_or("(unknown)");
}

}  // namespace zelto
