// Workspace: the applications of the current user that are running, and launching one.
//
// A running application is a process of the current user that runs the application of a bundle
// B with an Info.plist: a process the workspace launched from B (whatever program it runs by
// now), or one whose executable lies at B/Contents/MacOS/NAME. Its bundle identifier comes from
// that Info.plist. Its `bundlePath` is canonical: absolute, every symbolic link resolved, no "."
// or ".." components, so a caller compares it with a path made canonical the same way
// (realpath, std::filesystem::canonical), never with the text it launched. Observers hear about
// changes of that list on the run loop the workspace was made for; the first reading of the
// list is no change. A workspace need not notice every start by itself (each one says which it
// does); `refreshRunningApplications` reads the list whole and finds the others.
//
// Ownership: the creator owns the workspace; it must outlive its observers' tokens. Threads:
// every operation on the workspace's run-loop thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Platform/Status.h"

namespace zelto {

struct RunningApplication {
  int processIdentifier = 0;
  std::string bundleIdentifier;
  std::string bundlePath;
  bool isTerminated = false;
};

class Workspace {
 public:
  using Observer = std::function<void()>;
  using Token = uint64_t;

  virtual ~Workspace() = default;

  virtual std::vector<RunningApplication> runningApplications() = 0;
  std::vector<RunningApplication> runningApplicationsWithBundleIdentifier(
      const std::string& bundleIdentifier);

  // Starts the application of the bundle at `bundlePath` (its CFBundleExecutable) with no
  // arguments, detached from the caller. A failure, logged as an error line that is also its
  // reason, when it can't.
  virtual Status launchApplication(const std::string& bundlePath) = 0;

  // Continues process `processIdentifier` when it is stopped (SIGSTOP, SIGTSTP) and answers
  // whether it was; a stopped application does nothing it is there for.
  virtual bool resumeIfStopped(int processIdentifier) = 0;

  // Reads the whole list afresh now, so that an application whose start went unnoticed is
  // listed; a change found is told like any other.
  virtual void refreshRunningApplications() = 0;

  // Asks that a start of the application of the bundle at `bundlePath` be noticed from now on,
  // even when it has never been seen running here. Where the workspace can't watch for it, the
  // next `refreshRunningApplications` finds it.
  virtual void watchForStarts(const std::string& bundlePath) = 0;

  // Called after each change of the running-applications list that the workspace notices.
  Token addRunningApplicationsObserver(Observer observer);
  void removeRunningApplicationsObserver(Token token);
  size_t observerCount() const { return observers_.size(); }

 protected:
  // Calls each observer registered now; one removed meanwhile (by an earlier one) is skipped,
  // and an observer may remove itself while it runs.
  void notifyObservers();

 private:
  std::map<Token, Observer> observers_;
  Token nextToken_ = 1;
};

}  // namespace zelto
