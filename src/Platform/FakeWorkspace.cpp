#include "Platform/FakeWorkspace.h"

namespace zelto {

void FakeWorkspace::setRunningApplications(std::vector<RunningApplication> applications) {
  applications_ = std::move(applications);
}

std::vector<RunningApplication> FakeWorkspace::runningApplications() {
  ++queries_;
  return applications_;
}

bool FakeWorkspace::launchApplication(const std::string& bundlePath) {
  launches_.push_back(bundlePath);
  return launchResult_;
}

Workspace::Token FakeWorkspace::addRunningApplicationsObserver(Observer observer) {
  Token token = nextToken_++;
  observers_.emplace(token, std::move(observer));
  return token;
}

void FakeWorkspace::removeRunningApplicationsObserver(Token token) { observers_.erase(token); }

void FakeWorkspace::notifyChange() {
  std::vector<Token> tokens;
  for (const auto& entry : observers_) tokens.push_back(entry.first);
  for (Token token : tokens) {
    auto it = observers_.find(token);
    if (it == observers_.end()) continue;
    Observer observer = it->second;  // the observer may remove itself while it runs
    if (observer) observer();
  }
}

}  // namespace zelto
