// ConnectionSet: the live connections of a server on one loop, owned by the set, and the rule
// that keeps their number under a limit.
//
// `add` takes a connection the server accepted. `remove` takes one out at once (it no longer
// counts toward the limit nor is among those `select` finds), closes it (Connection::close: its
// streams, timers and pending operations, so that none of its callbacks runs again) and destroys
// it later, from the loop (deferred deletion): a connection may end itself from inside one of
// its own callbacks, and the code still running in it finds its members alive. `clear` and the
// set's destruction destroy every connection at once.
//
// `followCapacity` pauses the server's listeners while the set is at its limit, so that new
// connections wait in the kernel's queue, and resumes them below it unless the server says not
// to (descriptors ran out).
//
// Connection needs `void close()`. Ownership: the server that holds it; the loop outlives it.
// Threads: the loop's thread only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Platform/RunLoop.h"
#include "Platform/TcpListener.h"

namespace zelto {

template <typename Connection>
class ConnectionSet {
 public:
  ConnectionSet(RunLoop& loop, size_t limit) : loop_(loop) { setLimit(limit); }
  ~ConnectionSet() {
    *alive_ = false;
    clear();
  }
  ConnectionSet(const ConnectionSet&) = delete;
  ConnectionSet& operator=(const ConnectionSet&) = delete;

  Connection& add(std::unique_ptr<Connection> connection) {
    Connection* raw = connection.get();
    live_.emplace(raw, std::move(connection));
    return *raw;
  }

  // Closes `connection` now and destroys it from the loop; nothing for one not in the set (one
  // removed already).
  void remove(Connection* connection) {
    auto found = live_.find(connection);
    if (found == live_.end()) return;
    std::unique_ptr<Connection> owned = std::move(found->second);
    live_.erase(found);
    owned->close();
    closed_.push_back(std::move(owned));
    if (cleanupPosted_) return;
    cleanupPosted_ = true;
    loop_.post([this, alive = alive_] {
      if (*alive) destroyClosed();
    });
  }

  bool contains(Connection* connection) const { return live_.count(connection) != 0; }
  size_t size() const { return live_.size(); }
  bool empty() const { return live_.empty(); }
  size_t limit() const { return limit_; }
  void setLimit(size_t limit) { limit_ = std::max<size_t>(limit, 1); }
  bool full() const { return live_.size() >= limit_; }

  // Destroys every connection, live or closed, now.
  void clear() {
    live_.clear();
    closed_.clear();
  }

  // The live connections `pick` chooses, as they are now: removing some while going through
  // them is safe (check `contains` before using one that an earlier one may have ended).
  std::vector<Connection*> select(const std::function<bool(const Connection&)>& pick) const {
    std::vector<Connection*> chosen;
    for (const auto& [raw, connection] : live_) {
      if (pick(*connection)) chosen.push_back(raw);
    }
    return chosen;
  }

  // Pauses `listeners` (null ones left out) at the limit, and resumes them below it when
  // `mayResume`. Answers whether the set is full.
  bool followCapacity(std::initializer_list<TcpListener*> listeners, bool mayResume = true) {
    const bool atLimit = full();
    for (TcpListener* listener : listeners) {
      if (listener == nullptr) continue;
      if (atLimit) {
        listener->pause();
      } else if (mayResume) {
        listener->resume();
      }
    }
    return atLimit;
  }

 private:
  void destroyClosed() {
    cleanupPosted_ = false;
    // A destructor may remove another connection: destroy a batch taken out first.
    std::vector<std::unique_ptr<Connection>> batch = std::exchange(closed_, {});
  }

  RunLoop& loop_;
  size_t limit_ = 1;
  std::unordered_map<Connection*, std::unique_ptr<Connection>> live_;
  std::vector<std::unique_ptr<Connection>> closed_;  // removed, waiting to be destroyed
  bool cleanupPosted_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // false once the set is gone
};

}  // namespace zelto
