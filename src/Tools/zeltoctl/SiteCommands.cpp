#include "Tools/zeltoctl/SiteCommands.h"

namespace zelto {

void SiteCommands::addTo(CLI::App& /*app*/, CommandRunner::Action& /*chosen*/) {}

}  // namespace zelto
