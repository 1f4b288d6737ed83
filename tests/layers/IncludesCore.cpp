// Layer probe: the core and the platform, which every layer above them may include. Compiled with
// each layer's include flags by the layers tests, which expect it to compile: the same flags
// reject the other probes for the include alone.
#include "App/Data/BundleIdentifiers.h"
#include "Platform/Status.h"

int main() { return zelto::Status::success().ok() ? 0 : *zelto::BundleIdentifiers::kMain; }
