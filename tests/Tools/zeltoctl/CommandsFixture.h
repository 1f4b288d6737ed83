// CommandsFixture: a controller over a private home whose configuration the test writes first,
// for zeltoctl's commands, given as the command runner gives it: the running period observed.
// Times are in Europe/Berlin; 2026-12-09 is a Wednesday.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "App/Controller/Zelto.h"
#include "App/Data/Preferences/JSONValues.h"
#include "Support/ChildProcess.h"
#include "Support/FakeClock.h"
#include "Support/TestEnv.h"
#include "Tools/zeltoctl/BlockState.h"

namespace zelto::testing {

class CommandsFixture : public ::testing::Test {
 protected:
  using json = nlohmann::json;

  CommandsFixture() { ZeltoPreferences::resetSharedInstanceForTesting(); }
  ~CommandsFixture() override { ZeltoPreferences::resetSharedInstanceForTesting(); }

  static constexpr const char* kFile = ".local/share/Zelto/default.cfg";

  // Writes the configuration and makes the controller at `now`.
  Zelto& open(const json& config, const std::string& now = "2026-12-09T12:00:00+01:00") {
    controller_.reset();
    ZeltoPreferences::resetSharedInstanceForTesting();
    env_.temp().write(kFile, config.dump());
    clock_.setNow(*JSONValues::parseDate(now));
    controller_ = std::make_unique<Zelto>(clock_);
    if (controller_->prefs()) controller_->prefs()->currentTimeZone = "Europe/Berlin";
    BlockState::observe(*controller_);
    return *controller_;
  }
  // The same with the default profile `profile` (and `top` besides), at 12:00.
  Zelto& start(const json& profile, json top = json::object()) {
    top["profiles"] = json::array({profile});
    return open(top);
  }
  // A hardcore timer that must be completed, until 13:00: a locked period.
  Zelto& startLocked(const json& profile) {
    Zelto& zelto = start(profile, {{"zeltoType", 1},
                                   {"zeltoUnblockDate", "2026-12-09T13:00:00+01:00"},
                                   {"zeltoHardcoreMode", true},
                                   {"zeltoMustCompleteSession", true},
                                   {"lastZeltoDate", "2026-12-09T11:00:00+01:00"}});
    EXPECT_TRUE(BlockState::observe(zelto).locked);
    return zelto;
  }
  std::string fileText() const { return readWholeFile(env_.home() + "/" + kFile); }
  json stored() const { return json::parse(fileText()); }
  json storedProfile() const { return stored().at("profiles").at(0); }

  TestEnv env_;
  FakeClock clock_;
  Env::ScopedOverride clockOverride_{Env::Services{.clock = &clock_}};
  std::unique_ptr<Zelto> controller_;
};

}  // namespace zelto::testing
