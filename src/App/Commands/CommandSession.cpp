#include "App/Commands/CommandSession.h"

#include "App/Commands/BlockState.h"
#include "App/Commands/QuietLog.h"
#include "Platform/Env.h"

namespace zelto {

namespace {

CommandOutcome run(bool locked, const CommandSession::Command& command) {
  QuietLog quiet;
  Zelto controller(Env::clock());
  controller.keepLockedPeriods();
  if (controller.prefs() == nullptr) {
    return CommandOutcome::refused("The configuration can't be loaded:\n" + quiet.lines());
  }
  CommandOutcome outcome;
  auto body = [&] {
    // Every command may work on the default profile; the record makes one when it has none,
    // and only a failure to build one leaves it without.
    if (controller.prefs()->defaultProfile() == nullptr) {
      outcome = CommandOutcome::refused("The configuration has no profile, and none can be made");
      return;
    }
    BlockState::observe(controller);
    outcome = command(controller);
  };
  if (!locked) {
    body();
    return outcome;
  }
  if (Status edited = controller.edit(body); !edited.ok()) {
    return CommandOutcome::refused(edited.message());
  }
  return outcome;
}

}  // namespace

CommandOutcome CommandSession::edit(const Command& command) { return run(true, command); }
CommandOutcome CommandSession::read(const Command& command) { return run(false, command); }

}  // namespace zelto
