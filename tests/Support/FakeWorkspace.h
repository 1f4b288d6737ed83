// FakeWorkspace: a Workspace whose running applications the test sets by hand.
//
// `setRunningApplications` replaces the list that `runningApplications` answers; it does not
// notify anyone. `startUnnoticed` adds an application that only the next
// `refreshRunningApplications` lists, the way a real workspace misses a start it had no watch
// for (that refresh tells nobody either). `notifyChange` calls every registered observer, on the
// caller's thread, the way a real workspace reports a change of the list. Launches are recorded,
// not performed (they succeed); so are the bundles given to `watchForStarts`.
//
// Ownership: the test owns it. Threads: the test's thread only.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "Platform/Workspace.h"

namespace zelto {

class FakeWorkspace final : public Workspace {
 public:
  void setRunningApplications(std::vector<RunningApplication> applications) {
    applications_ = std::move(applications);
  }
  void startUnnoticed(RunningApplication application) {
    unnoticed_.push_back(std::move(application));
  }
  std::vector<RunningApplication> runningApplications() override {
    ++readings_;
    return applications_;
  }
  Status launchApplication(const std::string& bundlePath) override {
    launches_.push_back(bundlePath);
    return Status::success();
  }
  bool resumeIfStopped(int processIdentifier) override {
    if (stopped_.erase(processIdentifier) == 0) return false;
    resumed_.push_back(processIdentifier);
    return true;
  }
  void refreshRunningApplications() override {
    applications_.insert(applications_.end(), unnoticed_.begin(), unnoticed_.end());
    unnoticed_.clear();
  }
  void watchForStarts(const std::string& bundlePath) override {
    watchedForStarts_.push_back(bundlePath);
  }

  // Calls each observer registered now; one removed meanwhile (by an earlier one) is skipped.
  void notifyChange() { notifyObservers(); }

  void setStopped(int processIdentifier) { stopped_.insert(processIdentifier); }
  // The processes continued, in order.
  const std::vector<int>& resumed() const { return resumed_; }
  const std::vector<std::string>& launches() const { return launches_; }
  const std::vector<std::string>& watchedForStarts() const { return watchedForStarts_; }
  // How many times the list was read.
  size_t readings() const { return readings_; }

 private:
  std::vector<RunningApplication> applications_;
  std::vector<RunningApplication> unnoticed_;
  std::vector<std::string> launches_;
  std::vector<std::string> watchedForStarts_;
  std::set<int> stopped_;
  std::vector<int> resumed_;
  size_t readings_ = 0;
};

}  // namespace zelto
