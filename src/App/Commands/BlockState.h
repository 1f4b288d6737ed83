// BlockState: the blocking phase (BlockingPhase) as zeltoctl's commands use it, with its texts.
//
// A controller made in this process knows nothing of a period started elsewhere: `observe`
// tells it (`isZeltoing`) from the phase, so that its decisions (breaks, `canHardcoreUnzelto`)
// answer for the period that runs.
//
// Class operations and a plain value; the thread that owns the controller.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "App/Controller/BlockingPhase.h"
#include "App/Controller/Zelto.h"
#include "Platform/Date.h"

namespace zelto {

struct BlockState : BlockingPhase {
  // The phase at the controller's now; sets its `isZeltoing` to `running`.
  static BlockState observe(Zelto& zelto);

  // "at 17:00 (in 4 hours 59 minutes)", "on Thu 10 Dec at 09:00 (in ...)", or "when stopped";
  // local times in the controller's zone.
  static std::string whenText(Zelto& zelto, std::optional<Date> moment);

  // "mode", "running", "locked", "breaking", "scheduled", "endsAt", "breakEndsAt" (ISO 8601 or
  // null) and, when locked, "lockReason".
  nlohmann::json toJson() const;
};

}  // namespace zelto
