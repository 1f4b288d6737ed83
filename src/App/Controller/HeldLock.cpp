#include "App/Controller/HeldLock.h"

#include <nlohmann/json.hpp>

#include "App/Data/Preferences/JSONValues.h"
#include "Platform/Directories.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"
#include "Platform/JsonText.h"
#include "Platform/Log.h"

namespace zelto {

namespace {

// How long before its first sight a period is still honoured (see the header).
constexpr double kEarliestBeforeSighting = 24 * 60 * 60;
// The file holds three short values.
constexpr uint64_t kMaxFileBytes = 4096;

}  // namespace

std::optional<std::string> HeldLock::standardPath() {
  auto state = Env::directories().stateDirectory();
  if (!state) return std::nullopt;
  return path::appendingComponent(*state, "locked-period");
}

std::optional<HeldLock::Period> HeldLock::inForce(Date now) {
  loadOnce();
  if (!period_ || !period_->until.isGreaterDate(now) ||
      period_->from.timeIntervalSinceDate(now) > kEarliestBeforeSighting) {
    return std::nullopt;
  }
  return period_;
}

void HeldLock::hold(Date now, Date until, const std::string& reason) {
  loadOnce();
  if (!until.isGreaterDate(now)) return;
  if (auto held = inForce(now)) {
    if (!until.isGreaterDate(held->until)) return;  // never moved back
    period_->until = until;
  } else {
    period_ = Period{now, until, reason};
    log::info("Locked period in force until {}: {}", JSONValues::formatDate(until), reason);
  }
  if (Status stored = store(); !stored.ok()) {
    log::warning("Can't keep the locked period at {}: {}", path_, stored.message());
  }
}

void HeldLock::loadOnce() {
  if (loaded_) return;
  loaded_ = true;
  if (Status loaded = load(); !loaded.ok()) log::warning("{}", loaded.message());
}

Status HeldLock::load() {
  Result<std::string> text = Env::fileSystem().readFile(path_, kMaxFileBytes);
  if (text.status().isNotFound()) return Status::success();
  Result<nlohmann::json> parsed = text.ok() ? JsonText::parse(*text) : text.status();
  if (!parsed.ok()) {
    return parsed.status().withContext("Can't read the locked period kept at " + path_);
  }
  auto date = [&](const char* key) -> std::optional<Date> {
    auto value = parsed->is_object() ? parsed->find(key) : parsed->end();
    if (value == parsed->end() || !value->is_string()) return std::nullopt;
    return JSONValues::parseDate(value->get<std::string>());
  };
  auto from = date("from"), until = date("until");
  if (!from || !until) {
    return Status::invalidInput("The locked period kept at " + path_ + " is malformed; ignored");
  }
  auto reason = parsed->find("reason");
  period_ = Period{
      *from, *until,
      reason != parsed->end() && reason->is_string() ? reason->get<std::string>() : std::string()};
  return Status::success();
}

Status HeldLock::store() const {
  if (!period_) return Status::success();
  nlohmann::json object = {{"from", JSONValues::formatDate(period_->from)},
                           {"until", JSONValues::formatDate(period_->until)},
                           {"reason", period_->reason}};
  FileSystem& fs = Env::fileSystem();
  Status made = fs.createDirectories(path::deletingLastComponent(path_));
  if (!made.ok()) return made;
  return fs.writeFileAtomically(
      path_, object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
      FileSystem::kPrivateFileMode);
}

}  // namespace zelto
