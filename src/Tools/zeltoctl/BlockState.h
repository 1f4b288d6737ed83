// BlockState: the blocking period running now, as zeltoctl's commands see it: whether one runs,
// in which mode, whether it is locked (hardcore mode won't let it end early), why, and until
// when.
//
// A controller made in this process knows nothing of a period started elsewhere: `observe`
// tells it (`isZeltoing`) from the record and the clock, so that its decisions (breaks,
// `canHardcoreUnzelto`) answer for the period that runs.
//
// Class operations and a plain value; the thread that owns the controller.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "App/Controller/Zelto.h"
#include "Platform/Date.h"

namespace zelto {

struct BlockState {
  bool running = false;
  // Running and hardcore mode won't let it end now (!canHardcoreUnzelto).
  bool locked = false;
  bool breaking = false;
  bool scheduled = false;  // a schedule is in force now
  std::string mode;        // "normal", "timer", "schedule" or "unknown"
  // When the running period ends: the timer's end, or the end of the scheduled run in force,
  // whichever is later; nothing when it runs until stopped (or nothing runs).
  std::optional<Date> endsAt;
  std::optional<Date> breakEndsAt;
  // Why it can't be ended early; empty unless locked.
  std::string lockReason;

  // Reads the controller at its clock's now and sets its `isZeltoing` to `running`.
  static BlockState observe(Zelto& zelto);

  // "at 17:00 (in 4 hours 59 minutes)", "on Thu 10 Dec at 09:00 (in ...)", or "when stopped";
  // local times in the controller's zone.
  static std::string whenText(Zelto& zelto, std::optional<Date> moment);

  // "mode", "running", "locked", "breaking", "scheduled", "endsAt", "breakEndsAt" (ISO 8601 or
  // null) and, when locked, "lockReason".
  nlohmann::json toJson() const;
};

}  // namespace zelto
