// ConfigurationLock: one writer at a time for a configuration file, between processes and
// between the threads of one.
//
// Every read-modify-write of a configuration file holds this lock from before its read to after
// its save, so that no writer's change is lost to another's: `zeltoctl`'s edits, and the saves
// of the controller in the agent and the main application. Between processes it is an advisory
// lock (FileLock) on "<file>.lock" beside the configuration; within a process it is re-entrant,
// so an edit may call operations that save (and lock) themselves.
//
// Any thread. A holder releases on the thread that acquired.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "Platform/Status.h"

namespace zelto {

class ConfigurationLock {
 public:
  // How long a writer waits for another by default: far longer than any save takes.
  static constexpr std::chrono::milliseconds kDefaultWait{10000};

  // The lock of the configuration file at `configPath`, or a failure naming the lock file when
  // it can't be had within `wait`.
  static Result<ConfigurationLock> acquire(const std::string& configPath,
                                           std::chrono::milliseconds wait = kDefaultWait);

  ConfigurationLock(ConfigurationLock&&) noexcept = default;
  ConfigurationLock& operator=(ConfigurationLock&&) = delete;
  ~ConfigurationLock();

  static std::string lockPathFor(const std::string& configPath) { return configPath + ".lock"; }

  // The process's share of one lock file (private to the implementation).
  struct Holder;

 private:
  explicit ConfigurationLock(std::shared_ptr<Holder> holder) : holder_(std::move(holder)) {}
  std::shared_ptr<Holder> holder_;
};

}  // namespace zelto
