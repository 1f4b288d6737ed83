// StatusReport: what zeltoctl shows about the controller's answers at one moment: the status
// (for a person or a program) and the generated schedule with a week grid.
//
// Class operations only; they run the controller's questions on the calling thread.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "App/Controller/Zelto.h"
#include "Platform/Date.h"

namespace zelto {

class StatusReport {
 public:
  // The controller's answers at `now` (the controller's clock must read `now`): the blocking
  // phase ("phase": off, imminent, break or blocking; "locked" and, when locked,
  // "lockReason"), "mode", "shouldZelto", "timeUntilUnblock", "timeUntilBlock", "countDown",
  // "isScheduleBlocked", "scheduleEnd", "scheduleEndText", "canHardcoreUnzelto" (not locked),
  // "shouldUnzelto" and "watchdog" ("launch" or "wait": what the watchdog does, read off the
  // same phase, for a main application that isn't running).
  static nlohmann::json status(Zelto& zelto, Date now);
  static std::string statusText(const nlohmann::json& status);

  // The periods from `now` to `days` days ahead, in the controller's zone, then a grid of the
  // same days (one row a day, one column an hour).
  static std::string scheduleText(Zelto& zelto, Date now, int days);
  // The same periods for programs: {"from": now, "days": `days`, "periods": [{"start", "end"}]},
  // local times in the controller's zone with their UTC offset ("2026-12-09T09:00:00+01:00").
  static nlohmann::json scheduleJson(Zelto& zelto, Date now, int days);
};

}  // namespace zelto
