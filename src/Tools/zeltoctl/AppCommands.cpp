#include "Tools/zeltoctl/AppCommands.h"

namespace zelto {

void AppCommands::addTo(CLI::App& /*app*/, CommandRunner::Action& /*chosen*/) {}

}  // namespace zelto
