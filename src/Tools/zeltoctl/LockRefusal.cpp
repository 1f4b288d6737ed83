#include "Tools/zeltoctl/LockRefusal.h"

namespace zelto {

CommandOutcome LockRefusal::refuse(Zelto& zelto, const BlockState& state, const std::string& what) {
  const nlohmann::json json = state.toJson();
  return CommandOutcome::refused(what +
                                     " is refused while blocking is locked: " + state.lockReason +
                                     "; it ends " + BlockState::whenText(zelto, state.endsAt) + ".",
                                 {{"endsAt", json["endsAt"]}, {"lockReason", state.lockReason}});
}

}  // namespace zelto
