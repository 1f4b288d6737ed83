// TestEnv: a private platform for one test: a temporary home directory, user defaults kept in
// memory, a notification centre of its own and, when asked, a bundle the process seems to run
// from. Installed for the test's scope through Env::ScopedOverride.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "Platform/BundleInfo.h"
#include "Platform/DefaultsStore.h"
#include "Platform/Directories.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"
#include "Platform/NotificationCenter.h"
#include "Platform/UserDefaults.h"
#include "Support/TempDir.h"

namespace zelto::testing {

// The agent of the built bundle, as the running process would see itself.
inline BundleInfo builtAgentBundle() {
  LocalFileSystem fs;
  return BundleInfo::forExecutable(
      std::string(ZELTO_TEST_APP_DIR) + "/Contents/MacOS/Agent.app/Contents/MacOS/Agent", fs);
}

class TestEnv {
 public:
  explicit TestEnv(std::optional<BundleInfo> bundle = std::nullopt)
      : store_(std::make_shared<InMemoryDefaultsStore>()),
        defaults_("Quarnix.zelto.agent", store_),
        directories_(
            fs_,
            [this](const std::string& name) -> std::optional<std::string> {
              if (name == "HOME" && home_) return *home_;
              auto it = variables_.find(name);
              if (it == variables_.end()) return std::nullopt;
              return it->second;
            },
            [] { return std::optional<std::string>(); }),
        home_(temp_.path()),
        override_(Env::Services{nullptr, nullptr, &directories_, std::move(bundle), &defaults_,
                                &notifications_}) {}

  const TempDir& temp() const { return temp_; }
  const std::string& home() const { return temp_.path(); }
  InMemoryDefaultsStore& store() { return *store_; }
  UserDefaults& defaults() { return defaults_; }
  LocalFileSystem& fs() { return fs_; }
  Directories& directories() { return directories_; }

  // Makes the home directory unknown (no HOME, nothing in the password database).
  void forgetHome() { home_.reset(); }
  void setVariable(const std::string& name, const std::string& value) { variables_[name] = value; }

 private:
  TempDir temp_;
  LocalFileSystem fs_;
  std::shared_ptr<InMemoryDefaultsStore> store_;
  UserDefaults defaults_;
  NotificationCenter notifications_;
  Directories directories_;
  std::optional<std::string> home_;
  std::map<std::string, std::string> variables_;
  Env::ScopedOverride override_;
};

}  // namespace zelto::testing
