#include "App/Commands/CommandSession.h"

#include <optional>
#include <string>

#include "App/Commands/BlockState.h"
#include "App/Commands/QuietLog.h"
#include "Platform/Env.h"
#include "Platform/FixedClock.h"

namespace zelto {

namespace {

constexpr const char* kNotLoaded = "The configuration can't be loaded; the log says why";

CommandOutcome run(bool locked, const CommandSession::Command& command, CommandSession::Log log) {
  std::optional<QuietLog> quiet;
  if (log == CommandSession::Log::kKeepBack) quiet.emplace();
  Zelto controller(Env::clock());
  controller.keepLockedPeriods();
  if (controller.prefs() == nullptr) {
    return CommandOutcome::refused(quiet ? "The configuration can't be loaded:\n" + quiet->lines()
                                         : std::string(kNotLoaded));
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

CommandOutcome CommandSession::edit(const Command& command, Log log) {
  return run(true, command, log);
}
CommandOutcome CommandSession::read(const Command& command, Log log) {
  return run(false, command, log);
}

Status CommandSession::look(Date now, bool keepLocked, const std::function<void(Zelto&)>& look,
                            Log log) {
  std::optional<QuietLog> quiet;
  if (log == Log::kKeepBack) quiet.emplace();
  FixedClock clock(now);
  Zelto controller(clock);
  if (keepLocked) controller.keepLockedPeriods();
  if (controller.prefs() == nullptr) {
    return Status::failure(quiet ? quiet->lines() : std::string(kNotLoaded));
  }
  look(controller);
  return Status::success();
}

}  // namespace zelto
