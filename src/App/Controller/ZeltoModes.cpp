// The controller's instance, its record, and the blocking modes.
#include "App/Blocking/Helpers/ZeltoUtils.h"
#include "App/Controller/Zelto.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"
#include "Platform/Log.h"

namespace zelto {

Zelto& Zelto::shared() {
  static Zelto* instance = new Zelto(Env::clock());  // made once, even when asked concurrently
  return *instance;
}

void Zelto::keepLockedPeriods() {
  if (auto path = HeldLock::standardPath()) keepLockedPeriodsIn(std::make_unique<HeldLock>(*path));
}

Zelto::Zelto(Clock& clock) : clock_(clock), prefs_(ZeltoPreferences::standardPreferences()) {
  // Both site objects follow the record in use, which may be loaded only later.
  zeltoURL_ = std::make_unique<ZeltoURL>([this] { return prefs(); });
  shouldStartTimer = false;
  urlMatchManager_ = std::make_unique<ZeltoURLMatcherManager>([this] { return prefs(); });
  urlMatchManager_->setup();
}

ZeltoPreferences* Zelto::prefs() {
  // The shared record may have been loaded since (by a retry elsewhere); asking costs nothing.
  if (prefs_ == nullptr) prefs_ = ZeltoPreferences::standardPreferences();
  return prefs_;
}

void Zelto::refreshPrefs() {
  if (ZeltoPreferences* record = prefs()) {
    // Logged; the record keeps its values. An unchanged file costs one stat.
    record->discardUnsavedChangesIfFileChanged().ignoreError();
    return;
  }
  // Absent: one more attempt, so the controller recovers as soon as a good file appears.
  prefs_ = ZeltoPreferences::retryStandardPreferences();
}

void Zelto::preferencesFileChanged() {
  if (prefs_ != nullptr) prefs_->fileMayHaveChanged();
}

const ZeltoPreferences& Zelto::current() {
  if (ZeltoPreferences* record = prefs()) return *record;
  // Plain construction, no defaults merged: every field empty, zero or false.
  static const ZeltoPreferences* empty = new ZeltoPreferences();
  return *empty;
}

Status Zelto::edit(const std::function<void()>& change, std::chrono::milliseconds wait) {
  ZeltoPreferences* record = prefs();
  if (record == nullptr) {
    refreshPrefs();
    record = prefs_;
    if (record == nullptr) return Status::failure("The configuration can't be loaded");
  }
  auto path = record->configFilePath();
  if (!path) return Status::failure("No configuration directory is known");
  // The lock file lives beside the configuration, so its folder must be there first.
  if (Status made = ZeltoUtils::createDirectoryIfNecessary(path::deletingLastComponent(*path));
      !made.ok()) {
    return made;
  }
  Result<ConfigurationLock> lock = ConfigurationLock::acquire(*path, wait);
  if (!lock.ok()) return lock.status();
  // Whatever another writer saved before the lock was ours is read now, so that the change is
  // made to it and nothing of it is lost (the bytes are compared: a file as this record holds
  // it is not parsed again).
  if (Status read = record->discardUnsavedChangesIfContentChanged(); !read.ok()) return read;
  change();
  return Status::success();
}

Status Zelto::save() {
  ZeltoPreferences* record = prefs();
  if (record == nullptr) return Status::success();
  std::optional<ConfigurationLock> lock;
  if (auto path = record->configFilePath()) {
    ZeltoUtils::createDirectoryIfNecessary(path::deletingLastComponent(*path)).ignoreError();
    Result<ConfigurationLock> held = ConfigurationLock::acquire(*path);
    if (held.ok()) {
      lock.emplace(std::move(held).value());
    } else {
      log::warning("Saving the configuration without its lock: {}", held.status().message());
    }
  }
  // A failed save is logged; the state stays in memory and the next save writes it.
  return record->save();
}

bool Zelto::isNormal() { return current().zeltoType == 0; }
bool Zelto::isTimer() { return current().zeltoType == 1; }
bool Zelto::isSchedule() { return current().zeltoType == 2; }
bool Zelto::isTimeBased() { return isTimer() || isSchedule(); }

bool Zelto::shouldZelto() {
  const ZeltoPreferences& p = current();
  const std::optional<Date> unblockDate = p.zeltoUnblockDate;
  const bool timer = isTimer();
  if (unblockDate && timer && unblockDate->isGreaterDate(now())) {
    log::debug("shouldZelto indicated should be time zeltoed right now");
    return true;
  }
  if (p.lastZeltoDate && !p.lastUnzeltoDate) {
    log::debug("shouldZelto indicated should be normal zeltoed right now");
    return true;
  }
  return false;
}

}  // namespace zelto
