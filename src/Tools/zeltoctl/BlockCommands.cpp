#include "Tools/zeltoctl/BlockCommands.h"

namespace zelto {

void BlockCommands::addTo(CLI::App& /*app*/, CommandRunner::Action& /*chosen*/) {}

}  // namespace zelto
