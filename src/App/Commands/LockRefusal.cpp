#include "App/Commands/LockRefusal.h"

namespace zelto {

std::string LockRefusal::message(Zelto& zelto, const BlockState& state, const std::string& what) {
  return what + " is refused while blocking is locked: " + state.lockReason + "; it ends " +
         BlockState::whenText(zelto, state.endsAt) + ".";
}

CommandOutcome LockRefusal::refuse(Zelto& zelto, const BlockState& state, const std::string& what) {
  const nlohmann::json json = state.toJson();
  return CommandOutcome::refused(message(zelto, state, what),
                                 {{"endsAt", json["endsAt"]}, {"lockReason", state.lockReason}});
}

}  // namespace zelto
