// Layer probe: the agent's code, included from a layer below or beside it. Compiled with a
// layer's include flags by the layers tests, which expect "No such file" for it.
#include "Agent/App/AgentAppDelegate.h"
