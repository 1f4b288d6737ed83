#include "Guard/GuardDaemon.h"

#include "App/Data/Preferences/JSONValues.h"
#include "App/Guard/GuardRequest.h"
#include "Platform/Log.h"

namespace zelto {

namespace {

using json = nlohmann::json;

json refused(const std::string& why) { return {{"ok", false}, {"refused", true}, {"error", why}}; }

}  // namespace

void GuardDaemon::start() {
  locks_ = store_.load(clock_.now());
  for (const auto& [uid, lock] : locks_) {
    log::info("Holding the lock of user {} until {}", uid, JSONValues::formatDate(lock.end));
    arm(uid);
  }
  onChange_(locks_);
}

std::string GuardDaemon::handle(uid_t peer, const std::string& text) {
  auto request = GuardRequest::parse(text);
  json reply;
  if (!request) {
    reply = {{"ok", false}, {"error", request.status().message()}};
  } else if (request->kind == GuardRequest::Kind::kLock) {
    reply = lock(peer, std::move(*request->lock));
  } else if (request->uid && *request->uid != peer && peer != 0) {
    reply = refused("Only root may ask about or end another user's lock");
  } else if (request->kind == GuardRequest::Kind::kRelease) {
    reply = release(peer, request->uid.value_or(peer));
  } else {
    reply = status(request->uid.value_or(peer));
  }
  return reply.dump(-1, ' ', false, json::error_handler_t::replace);
}

json GuardDaemon::lock(uid_t peer, GuardLock offered) {
  if (!offered.runsAt(clock_.now())) return refused("The lock ends in the past");
  auto held = locks_.find(peer);
  if (held != locks_.end()) {
    if (std::string why = held->second.loosenedBy(offered); !why.empty()) {
      log::info("Refused a looser lock from user {}: {}", peer, why);
      return refused(why);
    }
    if (held->second == offered) return {{"ok", true}, {"lock", offered.toJson()}};
  }
  if (Status saved = store_.save(peer, offered); !saved.ok()) {
    log::error("Can't keep the lock of user {}: {}", peer, saved.message());
    return {{"ok", false}, {"error", "The guard can't keep the lock: " + saved.message()}};
  }
  log::info("{} the lock of user {} until {}", held == locks_.end() ? "Holding" : "Tightened", peer,
            JSONValues::formatDate(offered.end));
  locks_[peer] = std::move(offered);
  arm(peer);
  onChange_(locks_);
  return {{"ok", true}, {"lock", locks_[peer].toJson()}};
}

json GuardDaemon::release(uid_t peer, uid_t subject) {
  if (peer != 0) return refused("Only root may end a lock before its end");
  if (!locks_.contains(subject)) return {{"ok", true}, {"released", false}};
  end(subject, "released by root");
  return {{"ok", true}, {"released", true}};
}

json GuardDaemon::status(uid_t subject) {
  auto held = locks_.find(subject);
  if (held == locks_.end()) return {{"ok", true}, {"uid", subject}, {"locked", false}};
  return {{"ok", true}, {"uid", subject}, {"locked", true}, {"lock", held->second.toJson()}};
}

void GuardDaemon::arm(uid_t uid) {
  const double left = locks_.at(uid).end.timeIntervalSinceDate(clock_.now());
  timers_[uid] = loop_.addTimer(std::max(left, 0.0), 0, [this, uid] {
    auto lock = locks_.find(uid);
    if (lock == locks_.end()) return;
    // A clock set back since the timer was armed: wait for the end as the clock now tells it.
    if (lock->second.runsAt(clock_.now())) return arm(uid);
    end(uid, "its end has come");
  });
}

void GuardDaemon::end(uid_t uid, const std::string& why) {
  log::info("The lock of user {} ends: {}", uid, why);
  if (Status removed = store_.remove(uid); !removed.ok()) {
    log::error("Can't remove the kept lock of user {}: {}", uid, removed.message());
  }
  locks_.erase(uid);
  timers_.erase(uid);  // a timer may go from its own callback
  onChange_(locks_);
}

}  // namespace zelto
