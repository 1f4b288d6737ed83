#include "App/Data/Schedules/NSTimeIntervalFormatter.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>

namespace zelto {
namespace {

struct Unit {
  const char* name;
  int64_t seconds;
};

constexpr Unit kUnits[] = {{"day", 86400}, {"hour", 3600}, {"minute", 60}, {"second", 1}};

constexpr const char* kNoTime = "0 seconds";

// `value` (finite, already whole) as a 64-bit integer, held at the ends of that range: a plain
// cast of a value outside it is undefined.
int64_t saturatingInt64(double value) {
  constexpr double kTwoTo63 = 9223372036854775808.0;
  if (value >= kTwoTo63) return std::numeric_limits<int64_t>::max();
  if (value < -kTwoTo63) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

std::string clockField(int64_t value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02" PRId64, value);
  return buffer;
}

}  // namespace

std::vector<TimeIntervalPart> NSTimeIntervalFormatter::rawPartsForTimeInterval(double t) {
  // NaN and infinities have no whole number of seconds (converting them is undefined): no parts.
  if (!std::isfinite(t)) return {};
  int64_t remaining = saturatingInt64(std::round(std::fabs(t)));
  std::vector<TimeIntervalPart> parts;
  for (const Unit& unit : kUnits) {
    int64_t amount = remaining / unit.seconds;
    if (amount <= 0) continue;
    parts.push_back({amount == 1 ? unit.name : std::string(unit.name) + "s", amount});
    remaining -= amount * unit.seconds;
  }
  return parts;
}

std::string NSTimeIntervalFormatter::formatTimeIntervalPart(const TimeIntervalPart& part) {
  return std::to_string(part.amount) + " " + part.label;
}

std::string NSTimeIntervalFormatter::relativeTimeForInterval(double t) {
  std::vector<TimeIntervalPart> parts = rawPartsForTimeInterval(t);
  if (parts.empty()) return kNoTime;
  std::string text;
  for (const TimeIntervalPart& part : parts) {
    if (!text.empty()) text += " ";
    text += formatTimeIntervalPart(part);
  }
  return text;
}

std::string NSTimeIntervalFormatter::shortRelativeTimeForInterval(double t) {
  std::vector<TimeIntervalPart> parts = rawPartsForTimeInterval(t);
  if (parts.empty()) return kNoTime;
  return formatTimeIntervalPart(parts.front());
}

std::string NSTimeIntervalFormatter::singularRelativeTimeForInterval(double t) {
  std::vector<TimeIntervalPart> parts = rawPartsForTimeInterval(t);
  if (parts.empty()) return kNoTime;
  std::string text = formatTimeIntervalPart(parts.front());
  replaceAll(text, "minutes", "minute");
  replaceAll(text, "hours", "hour");
  replaceAll(text, "seconds", "second");
  return text;
}

std::string NSTimeIntervalFormatter::stringFromTimeInterval(double t) {
  // NaN and infinities cannot be truncated to an integer (the conversion is undefined); they
  // show as no time at all.
  if (!std::isfinite(t)) return "00:00";
  int64_t seconds = saturatingInt64(std::trunc(t));
  int64_t minutes = seconds / 60;
  int64_t secondField = seconds - 60 * minutes;
  int64_t minuteField = minutes - 60 * (minutes / 60);
  if (seconds < 3600) return clockField(minuteField) + ":" + clockField(secondField);
  return clockField(seconds / 3600) + ":" + clockField(minuteField) + ":" + clockField(secondField);
}

}  // namespace zelto
