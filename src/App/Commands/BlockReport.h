// BlockReport: what zeltoctl's start, stop, break and unbreak commands tell: the running period
// in words, the times in it, and the outcome of a change once it is saved.
//
// Class operations only; the thread that owns the controller.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "App/Commands/BlockState.h"
#include "App/Commands/CommandOutcome.h"
#include "App/Controller/Zelto.h"
#include "Platform/Date.h"

namespace zelto {

class BlockReport {
 public:
  // "until 14:25 (in 25 minutes)", "until Thu 10 Dec 2026 at 09:00 (in ...)", "until stopped".
  static std::string untilText(Zelto& zelto, std::optional<Date> moment);
  // What holds now, in one sentence: "Blocking is on until 14:25 (in 25 minutes), timer, locked
  // (hardcore mode, the session must be completed)."
  static std::string stateText(Zelto& zelto, const BlockState& state);
  // ISO 8601, or null.
  static nlohmann::json dateJson(std::optional<Date> date);
  // Refused because the running period is locked; `what` names the change ("Stopping").
  static CommandOutcome lockedRefusal(Zelto& zelto, const BlockState& state,
                                      const std::string& what);
  // Saves the record: done with `report` and `text`, or refused with the reason of the failed
  // save, the record then read back from the file so that nothing of the change stays.
  static CommandOutcome saved(Zelto& zelto, nlohmann::json report, std::string text);
};

}  // namespace zelto
