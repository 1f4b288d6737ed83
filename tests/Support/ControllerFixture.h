// ControllerFixture: a controller over a private home whose configuration the test writes first,
// given as a program gives it to its parts: the running period observed (`isZeltoing` set from
// the phase, as zeltoctl's command runner and the application's blocking monitor do). Times are in
// Europe/Berlin; 2026-12-09 is a Wednesday.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "App/Controller/BlockingPhase.h"
#include "App/Controller/Zelto.h"
#include "App/Data/Preferences/JSONValues.h"
#include "Support/ChildProcess.h"
#include "Support/FakeClock.h"
#include "Support/TestEnv.h"

namespace zelto::testing {

// The date written as `text` (the configuration's format), which must be valid.
inline Date at(const std::string& text) { return *JSONValues::parseDate(text); }

class ControllerFixture : public ::testing::Test {
 protected:
  using json = nlohmann::json;

  ControllerFixture() { ZeltoPreferences::resetSharedInstanceForTesting(); }
  ~ControllerFixture() override { ZeltoPreferences::resetSharedInstanceForTesting(); }

  static constexpr const char* kFile = ".local/share/Zelto/default.cfg";

  // Writes the configuration and makes the controller at `now`, the phase not yet observed.
  Zelto& make(const json& config, const std::string& now = "2026-12-09T12:00:00+01:00") {
    controller_.reset();
    ZeltoPreferences::resetSharedInstanceForTesting();
    env_.temp().write(kFile, config.dump());
    clock_.setNow(at(now));
    controller_ = std::make_unique<Zelto>(clock_);
    if (controller_->prefs()) controller_->prefs()->currentTimeZone = "Europe/Berlin";
    return *controller_;
  }
  // The same, the phase observed.
  Zelto& open(const json& config, const std::string& now = "2026-12-09T12:00:00+01:00") {
    Zelto& zelto = make(config, now);
    zelto.isZeltoing = BlockingPhase::of(zelto).running;
    return zelto;
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
    EXPECT_TRUE(BlockingPhase::of(zelto).locked);
    return zelto;
  }
  // An enabled schedule `id` from `from` to `to` o'clock on the days of `type` (weekdays).
  static json weekdays(const std::string& id, int from, int to, int type = 8) {
    return {{"isEnabled", true},
            {"scheduleType", type},
            {"fromDate", {{"hour", from}}},
            {"toDate", {{"hour", to}}},
            {"uniqueID", id}};
  }
  // A configuration whose default profile has `schedules`.
  static json withSchedules(json schedules) {
    return {{"profiles", json::array({{{"schedules", std::move(schedules)}}})}};
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
