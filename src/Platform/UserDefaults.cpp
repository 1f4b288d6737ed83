#include "Platform/UserDefaults.h"

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>

#include <algorithm>

#include "Platform/Log.h"
#include "Platform/PropertyList.h"

namespace zelto {

namespace {
constexpr const char* kClockDomain = "com.apple.menuextra.clock";
constexpr const char* kDateFormatKey = "DateFormat";
}  // namespace

UserDefaults::UserDefaults(std::string domain, std::shared_ptr<DefaultsStore> store)
    : domain_(std::move(domain)), store_(std::move(store)) {}

void UserDefaults::addSuiteNamed(const std::string& suite) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (suite == domain_ || std::find(suites_.begin(), suites_.end(), suite) != suites_.end()) {
    return;
  }
  suites_.push_back(suite);
}

nlohmann::json UserDefaults::valuesLocked(const std::string& name) {
  Domain& domain = domains_[name];
  std::string stamp = store_->stamp(name);
  if (!domain.loaded || stamp != domain.stamp) {
    domain.stored = store_->load(name);
    if (!domain.stored.is_object()) domain.stored = nlohmann::json::object();
    domain.stamp = stamp;
    domain.loaded = true;
  }
  nlohmann::json values = domain.stored;
  for (const auto& [key, value] : domain.pending) {
    if (value) {
      values[key] = *value;
    } else {
      values.erase(key);
    }
  }
  return values;
}

std::optional<nlohmann::json> UserDefaults::objectForKey(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> searchList{domain_};
  searchList.insert(searchList.end(), suites_.begin(), suites_.end());
  for (const auto& name : searchList) {
    nlohmann::json values = valuesLocked(name);
    auto it = values.find(key);
    if (it != values.end() && !it->is_null()) return *it;
  }
  return std::nullopt;
}

std::optional<nlohmann::json> UserDefaults::ownObjectForKey(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  nlohmann::json values = valuesLocked(domain_);
  auto it = values.find(key);
  if (it == values.end() || it->is_null()) return std::nullopt;
  return *it;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) {
  auto value = objectForKey(key);
  if (!value || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

std::optional<std::string> UserDefaults::ownStringForKey(const std::string& key) {
  auto value = ownObjectForKey(key);
  if (!value || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

void UserDefaults::setObject(const nlohmann::json& value, const std::string& key) {
  // A value the store can't keep (a null inside a list, say) would make every later
  // synchronize fail and hold back the other settings with it: refuse it here.
  if (!value.is_null() && !PropertyList::toXML(value)) {
    log::error("Not storing setting {}: its value can't be kept in a property list", key);
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  Domain& domain = domains_[domain_];
  if (value.is_null()) {
    domain.pending[key] = std::nullopt;
  } else {
    domain.pending[key] = value;
  }
}

void UserDefaults::removeObjectForKey(const std::string& key) { setObject(nullptr, key); }

Status UserDefaults::synchronize() {
  std::lock_guard<std::mutex> lock(mutex_);
  Domain& domain = domains_[domain_];
  if (domain.pending.empty()) return Status::success();
  // Start from what is stored now, so that keys another process changed meanwhile survive.
  domain.loaded = false;
  nlohmann::json values = valuesLocked(domain_);
  if (Status saved = store_->save(domain_, values); !saved.ok()) return saved;
  domain.pending.clear();
  // Read the store again at the next use rather than taking its stamp now: another process may
  // already have replaced what we just stored, and that stamp would hide its change.
  domain.loaded = false;
  return Status::success();
}

nlohmann::json UserDefaults::persistentDomainForName(const std::string& name) {
  nlohmann::json values;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    values = valuesLocked(name);
  }
  if (name == kClockDomain && !values.contains(kDateFormatKey)) {
    values[kDateFormatKey] = localeClockFormat();
  }
  return values;
}

std::string UserDefaults::localeClockFormat(const std::string& locale) {
  icu::Locale where = locale.empty() ? icu::Locale::getDefault() : icu::Locale(locale.c_str());
  std::unique_ptr<icu::DateFormat> format(
      icu::DateFormat::createTimeInstance(icu::DateFormat::kShort, where));
  auto* simple = dynamic_cast<icu::SimpleDateFormat*>(format.get());
  if (simple == nullptr) return "h:mm a";
  icu::UnicodeString pattern;
  simple->toPattern(pattern);
  // A pattern that shows hours with H or k counts them 0-23 (or 1-24): a 24-hour clock.
  bool inQuote = false;
  for (int32_t i = 0; i < pattern.length(); ++i) {
    char16_t c = pattern.charAt(i);
    if (c == u'\'') inQuote = !inQuote;
    if (!inQuote && (c == u'H' || c == u'k')) return "H:mm";
  }
  return "h:mm a";
}

}  // namespace zelto
