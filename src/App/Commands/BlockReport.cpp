#include "App/Commands/BlockReport.h"

#include <fmt/format.h>

#include "App/Commands/LockRefusal.h"
#include "App/Data/Preferences/JSONValues.h"

namespace zelto {

std::string BlockReport::untilText(Zelto& zelto, std::optional<Date> moment) {
  if (!moment) return "until stopped";
  std::string when = BlockState::whenText(zelto, moment);
  if (when.rfind("at ", 0) == 0 || when.rfind("on ", 0) == 0) when.erase(0, 3);
  return "until " + when;
}

std::string BlockReport::stateText(Zelto& zelto, const BlockState& state) {
  if (!state.running) return "Blocking is not on.";
  const ZeltoPreferences* prefs = zelto.prefs();
  // Switched on by hand and not off: that outlasts a schedule in force.
  const bool byHand =
      prefs != nullptr && prefs->zeltoType == 0 && prefs->lastZeltoDate && !prefs->lastUnzeltoDate;
  std::string text = "Blocking is on " + untilText(zelto, byHand ? std::nullopt : state.endsAt);
  if (state.mode == "timer") {
    text += ", timer";
  } else if (state.scheduled) {
    text += byHand ? ", scheduled " + untilText(zelto, state.endsAt) : ", scheduled";
  }
  if (state.locked) {
    text += state.scheduled ? ", locked (hardcore mode, a scheduled period)"
                            : ", locked (hardcore mode, the session must be completed)";
  } else if (prefs != nullptr && prefs->zeltoHardcoreMode) {
    text += ", hardcore mode";
  }
  if (state.breaking) text += "; on a break " + untilText(zelto, state.breakEndsAt);
  return text + ".";
}

nlohmann::json BlockReport::dateJson(std::optional<Date> date) {
  return date ? nlohmann::json(JSONValues::formatDate(*date)) : nlohmann::json(nullptr);
}

CommandOutcome BlockReport::lockedRefusal(Zelto& zelto, const BlockState& state,
                                          const std::string& what) {
  return CommandOutcome::refused(LockRefusal::message(zelto, state, what),
                                 {{"endsAt", dateJson(state.endsAt)}, {"state", state.toJson()}});
}

CommandOutcome BlockReport::saved(Zelto& zelto, nlohmann::json report, std::string text) {
  if (Status status = zelto.save(); !status.ok()) {
    // What this command changed stays out of the record, as a refusal leaves it.
    zelto.prefs()->discardUnsavedChanges().ignoreError();
    return CommandOutcome::refused(status.message());
  }
  return CommandOutcome::done(std::move(report), std::move(text));
}

}  // namespace zelto
