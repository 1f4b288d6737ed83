#include "Platform/Workspace.h"

namespace zelto {

std::vector<RunningApplication> Workspace::runningApplicationsWithBundleIdentifier(
    const std::string& bundleIdentifier) {
  std::vector<RunningApplication> matching;
  for (auto& application : runningApplications()) {
    if (application.bundleIdentifier == bundleIdentifier) matching.push_back(application);
  }
  return matching;
}

}  // namespace zelto
