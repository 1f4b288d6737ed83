// DefaultsStore: where user-defaults domains are kept between runs.
//
// A domain is a JSON object of settings, stored whole. `stamp` changes whenever the stored
// domain changes (also when another process wrote it), so readers can tell when to reload.
// PlistDefaultsStore keeps each domain D as an XML property list, D.plist, in one directory,
// replaced atomically on every save (one that can't be read as settings is first moved aside to
// D.plist.unreadable, never lost); InMemoryDefaultsStore is for tests.
//
// Thread safety: any thread; PlistDefaultsStore has no state of its own, and
// InMemoryDefaultsStore locks.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "Platform/Status.h"

namespace zelto {

class FileSystem;

class DefaultsStore {
 public:
  virtual ~DefaultsStore() = default;
  // The stored domain; an empty object when nothing (readable) is stored.
  virtual nlohmann::json load(const std::string& domain) = 0;
  // Stores the domain whole; fails, with the reason, when the domain can't be stored.
  virtual Status save(const std::string& domain, const nlohmann::json& values) = 0;
  virtual std::string stamp(const std::string& domain) = 0;

  // A domain name is used as a file name: it must be a plain, non-empty name.
  static bool isValidDomainName(const std::string& domain);
};

class PlistDefaultsStore final : public DefaultsStore {
 public:
  // `directory` gives the folder at each call (it may change, or be unknown: then nothing is
  // stored and every save fails).
  PlistDefaultsStore(FileSystem& fs, std::function<std::optional<std::string>()> directory);

  nlohmann::json load(const std::string& domain) override;
  Status save(const std::string& domain, const nlohmann::json& values) override;
  std::string stamp(const std::string& domain) override;

  std::optional<std::string> pathForDomain(const std::string& domain) const;

 private:
  Status keepUnreadableAside(const std::string& path);

  FileSystem& fs_;
  std::function<std::optional<std::string>()> directory_;
};

class InMemoryDefaultsStore final : public DefaultsStore {
 public:
  nlohmann::json load(const std::string& domain) override;
  Status save(const std::string& domain, const nlohmann::json& values) override;
  std::string stamp(const std::string& domain) override;

  // Makes the following saves fail (or succeed again), to test how callers cope.
  void setFailSaves(bool fail);

 private:
  std::mutex mutex_;
  std::map<std::string, nlohmann::json> domains_;
  std::map<std::string, uint64_t> versions_;
  bool failSaves_ = false;
};

}  // namespace zelto
