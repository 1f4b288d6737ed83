// Layer probe: zeltoctl's code, included from product code. Compiled with a layer's include flags
// by the layers tests, which expect "No such file" for it.
#include "Tools/zeltoctl/CommandRunner.h"
