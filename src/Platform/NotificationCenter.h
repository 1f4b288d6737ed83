// NotificationCenter: lets parts that don't know each other announce and observe named events.
//
// Observers register for a name (from any sender) and get every notification posted under it,
// synchronously, on the posting thread, in the order they registered. An observer added or
// removed while a notification is being delivered takes effect from the next post.
//
// Ownership: `defaultCenter()` is the process's centre (see Env); an observer stays until
// `removeObserver` with its token. Thread safety: any thread; callbacks run without the lock
// held, so they may post or (un)register themselves.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace zelto {

struct Notification {
  std::string name;
  std::any object;
  nlohmann::json userInfo;
};

class NotificationCenter {
 public:
  using Observer = std::function<void(const Notification&)>;
  using Token = uint64_t;

  static NotificationCenter& defaultCenter();

  Token addObserver(const std::string& name, Observer observer);
  void removeObserver(Token token);

  void post(const std::string& name, std::any object = {},
            nlohmann::json userInfo = nlohmann::json::object());

 private:
  struct Entry {
    Token token;
    std::string name;
    std::shared_ptr<Observer> observer;
  };

  std::mutex mutex_;
  Token nextToken_ = 1;
  std::vector<Entry> entries_;
};

}  // namespace zelto
