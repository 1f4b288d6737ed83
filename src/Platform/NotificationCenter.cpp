#include "Platform/NotificationCenter.h"

#include <algorithm>

namespace zelto {

NotificationCenter::Token NotificationCenter::addObserver(const std::string& name,
                                                          Observer observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  Token token = nextToken_++;
  entries_.push_back({token, name, std::make_shared<Observer>(std::move(observer))});
  return token;
}

void NotificationCenter::removeObserver(Token token) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(entries_, [token](const Entry& e) { return e.token == token; });
}

void NotificationCenter::post(const std::string& name, std::any object, nlohmann::json userInfo) {
  std::vector<std::shared_ptr<Observer>> observers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : entries_) {
      if (entry.name == name) observers.push_back(entry.observer);
    }
  }
  Notification notification{name, std::move(object), std::move(userInfo)};
  for (const auto& observer : observers) (*observer)(notification);
}

}  // namespace zelto
