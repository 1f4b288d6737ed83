// ListCommandsFixture: a controller over a private home whose configuration the test writes
// first, for the commands that edit the default profile's lists. Times are in Europe/Berlin;
// 2026-12-09 is a Wednesday.
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

class ListCommandsFixture : public ::testing::Test {
 protected:
  using json = nlohmann::json;

  ListCommandsFixture() { ZeltoPreferences::resetSharedInstanceForTesting(); }
  ~ListCommandsFixture() override { ZeltoPreferences::resetSharedInstanceForTesting(); }

  // Writes the configuration (its default profile `profile`, and `top` besides) and makes the
  // controller at 12:00, observing the running period as zeltoctl does.
  Zelto& start(const json& profile, json top = json::object()) {
    controller_.reset();
    ZeltoPreferences::resetSharedInstanceForTesting();
    top["profiles"] = json::array({profile});
    env_.temp().write(".local/share/Zelto/default.cfg", top.dump());
    clock_.setNow(*JSONValues::parseDate("2026-12-09T12:00:00+01:00"));
    controller_ = std::make_unique<Zelto>(clock_);
    controller_->prefs()->currentTimeZone = "Europe/Berlin";
    BlockState::observe(*controller_);
    return *controller_;
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
  json storedProfile() const {
    return json::parse(readWholeFile(env_.home() + "/.local/share/Zelto/default.cfg"))
        .at("profiles")
        .at(0);
  }

  TestEnv env_;
  FakeClock clock_;
  Env::ScopedOverride clockOverride_{Env::Services{.clock = &clock_}};
  std::unique_ptr<Zelto> controller_;
};

}  // namespace zelto::testing
