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

Workspace::Token Workspace::addRunningApplicationsObserver(Observer observer) {
  Token token = nextToken_++;
  observers_.emplace(token, std::move(observer));
  return token;
}

void Workspace::removeRunningApplicationsObserver(Token token) { observers_.erase(token); }

void Workspace::notifyObservers() {
  std::vector<Token> tokens;
  for (const auto& entry : observers_) tokens.push_back(entry.first);
  for (Token token : tokens) {
    auto it = observers_.find(token);
    if (it == observers_.end()) continue;
    Observer observer = it->second;
    if (observer) observer();
  }
}

}  // namespace zelto
