#include "Support/FakeWorkspace.h"

namespace zelto {

void FakeWorkspace::setRunningApplications(std::vector<RunningApplication> applications) {
  applications_ = std::move(applications);
}

void FakeWorkspace::startUnnoticed(RunningApplication application) {
  unnoticed_.push_back(std::move(application));
}

std::vector<RunningApplication> FakeWorkspace::runningApplications() {
  ++readings_;
  return applications_;
}

Status FakeWorkspace::launchApplication(const std::string& bundlePath) {
  launches_.push_back(bundlePath);
  return Status::success();
}

void FakeWorkspace::refreshRunningApplications() {
  applications_.insert(applications_.end(), unnoticed_.begin(), unnoticed_.end());
  unnoticed_.clear();
}

void FakeWorkspace::watchForStarts(const std::string& bundlePath) {
  watchedForStarts_.push_back(bundlePath);
}

bool FakeWorkspace::resumeIfStopped(int processIdentifier) {
  if (stopped_.erase(processIdentifier) == 0) return false;
  resumed_.push_back(processIdentifier);
  return true;
}

void FakeWorkspace::notifyChange() { notifyObservers(); }

}  // namespace zelto
