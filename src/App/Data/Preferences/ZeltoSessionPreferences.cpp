#include "App/Data/Preferences/ZeltoSessionPreferences.h"

#include <fmt/format.h>

#include <cmath>
#include <limits>

#include "Platform/Clock.h"
#include "Platform/DateCalendar.h"
#include "Platform/Digest.h"
#include "Platform/Env.h"

namespace zelto {

namespace {

// The interval as single precision, widened again so that it prints exactly.
double singlePrecision(const nlohmann::json& interval) {
  double value = interval.is_number() ? interval.get<double>() : 0.0;
  if (std::isnan(value)) return value;
  if (value > std::numeric_limits<float>::max()) return std::numeric_limits<double>::infinity();
  if (value < -std::numeric_limits<float>::max()) return -std::numeric_limits<double>::infinity();
  return static_cast<double>(static_cast<float>(value));
}

}  // namespace

ZeltoSessionPreferences ZeltoSessionPreferences::initWithDate(Date date, nlohmann::json interval,
                                                              int32_t type) {
  ZeltoSessionPreferences session;
  session.date = date;
  bool finite = interval.is_number() && std::isfinite(interval.get<double>());
  session.interval = finite ? std::move(interval) : nlohmann::json(0);
  session.zeltoType = type;
  return session;
}

std::string ZeltoSessionPreferences::fingerprintText() const {
  DateComponents utc = DateCalendar::dateComponentsDate(date, "UTC");
  std::string dateText = fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02} +0000", utc.year,
                                     utc.month, utc.day, utc.hour, utc.minute, utc.second);
  return fmt::format("{}-{}-{:.4f}", zeltoType, dateText, singlePrecision(interval));
}

std::string ZeltoSessionPreferences::getFingerprint() const {
  return Digest::md5Hex(fingerprintText());
}

double ZeltoSessionPreferences::getTimeIntervalSinceSession() const {
  return Env::clock().now().timeIntervalSinceDate(date);
}

const std::vector<RecordField<ZeltoSessionPreferences>>& ZeltoSessionPreferences::fields() {
  using S = ZeltoSessionPreferences;
  static const std::vector<RecordField<S>> table{
      fields::date("date", &S::date),
      fields::number("interval", &S::interval),
      fields::int32("zeltoType", &S::zeltoType),
  };
  return table;
}

}  // namespace zelto
