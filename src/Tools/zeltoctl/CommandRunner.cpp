#include "Tools/zeltoctl/CommandRunner.h"

#include <cstdio>

#include "Platform/Env.h"
#include "Tools/zeltoctl/BlockState.h"
#include "Tools/zeltoctl/QuietLog.h"

namespace zelto {

namespace {

int run(bool asJson, bool locked, const CommandRunner::Command& command) {
  QuietLog quiet;
  Zelto controller(Env::clock());
  controller.keepLockedPeriods();
  if (controller.prefs() == nullptr) {
    return CommandRunner::print(
        CommandOutcome::refused("The configuration can't be loaded:\n" + quiet.lines()), asJson);
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
    return CommandRunner::print(outcome, asJson);
  }
  if (Status edited = controller.edit(body); !edited.ok()) {
    return CommandRunner::print(CommandOutcome::refused(edited.message()), asJson);
  }
  return CommandRunner::print(outcome, asJson);
}

}  // namespace

int CommandRunner::edit(bool asJson, const Command& command) { return run(asJson, true, command); }
int CommandRunner::read(bool asJson, const Command& command) { return run(asJson, false, command); }

int CommandRunner::print(const CommandOutcome& outcome, bool asJson) {
  FILE* out = outcome.ok() ? stdout : stderr;
  if (asJson) {
    std::fprintf(
        out, "%s\n",
        outcome.report.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  } else if (!outcome.text.empty()) {
    std::fprintf(out, "%s%s", outcome.ok() ? "" : "zeltoctl: ", outcome.text.c_str());
  }
  return outcome.exitCode;
}

}  // namespace zelto
