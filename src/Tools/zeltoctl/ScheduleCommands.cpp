#include "Tools/zeltoctl/ScheduleCommands.h"

namespace zelto {

void ScheduleCommands::addTo(CLI::App& /*app*/, CommandRunner::Action& /*chosen*/) {}

}  // namespace zelto
