#include "Tools/zeltoctl/CommandRunner.h"

#include <cstdio>

namespace zelto {

int CommandRunner::edit(bool asJson, const Command& command) {
  return print(CommandSession::edit(command), asJson);
}
int CommandRunner::read(bool asJson, const Command& command) {
  return print(CommandSession::read(command), asJson);
}

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
