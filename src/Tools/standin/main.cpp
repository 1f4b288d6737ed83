// Zelto (stand-in): a tiny main application for demos and end-to-end tests.
//
// It does nothing but run until SIGTERM or SIGINT. When ZELTO_STANDIN_LOG names a file, it
// appends one line with its process identifier to it when it starts, so tests can count
// launches.
#include <cstdio>
#include <string>

#include "Platform/Application.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"
#include "Platform/ProcessInfo.h"

namespace {

class StandInDelegate final : public zelto::ApplicationDelegate {
 public:
  void applicationDidFinishLaunching() override {
    auto logPath = zelto::ProcessInfo::environmentValue("ZELTO_STANDIN_LOG");
    if (!logPath || logPath->empty()) return;
    zelto::Status logged = zelto::Env::fileSystem().appendToFile(
        *logPath, std::to_string(zelto::ProcessInfo::processIdentifier()) + "\n");
    if (!logged.ok()) std::fprintf(stderr, "%s\n", logged.message().c_str());
  }
};

}  // namespace

int main(int argc, char** argv) {
  StandInDelegate delegate;
  return zelto::Application::main(argc, argv, delegate);
}
