#include "Support/FakeWorkspace.h"

namespace zelto {

void FakeWorkspace::setRunningApplications(std::vector<RunningApplication> applications) {
  applications_ = std::move(applications);
}

std::vector<RunningApplication> FakeWorkspace::runningApplications() {
  ++queries_;
  return applications_;
}

Status FakeWorkspace::launchApplication(const std::string& bundlePath) {
  launches_.push_back(bundlePath);
  return launchResult_ ? Status::success() : Status::failure("launch refused by the test");
}

void FakeWorkspace::notifyChange() { notifyObservers(); }

}  // namespace zelto
