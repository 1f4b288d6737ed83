#include "App/Data/Preferences/JSONValues.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>
#include <variant>
#include <vector>

namespace zelto {

namespace {

// The integer a JSON value stands for: a whole number, a number truncated toward zero, or
// decimal text. Nothing for anything else.
Result<std::variant<int64_t, uint64_t>> wholeNumber(const nlohmann::json& value) {
  if (value.is_number_unsigned()) return std::variant<int64_t, uint64_t>(value.get<uint64_t>());
  if (value.is_number_integer()) return std::variant<int64_t, uint64_t>(value.get<int64_t>());
  if (value.is_number_float()) {
    double d = std::trunc(value.get<double>());
    if (!std::isfinite(d)) return Status::failure("expected a finite number");
    if (d >= 0 && d < 18446744073709551616.0) {
      return std::variant<int64_t, uint64_t>(static_cast<uint64_t>(d));
    }
    if (d < 0 && d >= -9223372036854775808.0) {
      return std::variant<int64_t, uint64_t>(static_cast<int64_t>(d));
    }
    return Status::failure("number out of range");
  }
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    const char* begin = text.data();
    const char* end = begin + text.size();
    bool plus = begin != end && *begin == '+';
    if (plus) ++begin;
    if (!plus && begin != end && *begin == '-') {  // one sign only: "+-5" is not a number
      int64_t n = 0;
      auto [ptr, ec] = std::from_chars(begin, end, n);
      if (ec == std::errc() && ptr == end) return std::variant<int64_t, uint64_t>(n);
    } else {
      uint64_t n = 0;
      auto [ptr, ec] = std::from_chars(begin, end, n);
      if (ec == std::errc() && ptr == end) return std::variant<int64_t, uint64_t>(n);
    }
    return Status::failure("expected an integer, found the text \"" + text + "\"");
  }
  return Status::failure("expected an integer");
}

template <typename T>
Result<T> inRange(const nlohmann::json& value) {
  auto whole = wholeNumber(value);
  if (!whole.ok()) return whole.status();
  const std::variant<int64_t, uint64_t>& number = *whole;
  if (auto* u = std::get_if<uint64_t>(&number)) {
    if (*u > static_cast<uint64_t>(std::numeric_limits<T>::max())) {
      return Status::failure(fmt::format("{} is out of range", *u));
    }
    return static_cast<T>(*u);
  }
  int64_t s = std::get<int64_t>(number);
  if constexpr (std::is_unsigned_v<T>) {
    if (s < 0) return Status::failure(fmt::format("{} is negative", s));
    return static_cast<T>(s);
  } else {
    if (s < std::numeric_limits<T>::min() || s > std::numeric_limits<T>::max()) {
      return Status::failure(fmt::format("{} is out of range", s));
    }
    return static_cast<T>(s);
  }
}

bool readDigits(const std::string& text, size_t& at, size_t count, int& out) {
  if (at + count > text.size()) return false;
  out = 0;
  for (size_t i = 0; i < count; ++i) {
    char c = text[at + i];
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    out = out * 10 + (c - '0');
  }
  at += count;
  return true;
}

bool expect(const std::string& text, size_t& at, char c) {
  if (at < text.size() && text[at] == c) {
    ++at;
    return true;
  }
  return false;
}

}  // namespace

Result<std::string> JSONValues::toText(const nlohmann::json& value) {
  if (value.is_string()) return value.get<std::string>();
  return Status::failure("expected a text");
}

Result<bool> JSONValues::toFlag(const nlohmann::json& value) {
  if (value.is_boolean()) return value.get<bool>();
  if (value.is_number()) return value.get<double>() != 0;
  return Status::failure("expected a flag (true, false or a number)");
}

Result<int32_t> JSONValues::toInt32(const nlohmann::json& value) { return inRange<int32_t>(value); }

Result<int64_t> JSONValues::toInt64(const nlohmann::json& value) { return inRange<int64_t>(value); }

Result<uint64_t> JSONValues::toUInt64(const nlohmann::json& value) {
  return inRange<uint64_t>(value);
}

Result<double> JSONValues::toDouble(const nlohmann::json& value) {
  if (value.is_number()) return value.get<double>();
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    double d = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
    if (ec == std::errc() && ptr == text.data() + text.size() && std::isfinite(d)) return d;
  }
  return Status::failure("expected a number");
}

Result<nlohmann::json> JSONValues::toNumber(const nlohmann::json& value) {
  if (value.is_number()) return value;
  return Status::failure("expected a number");
}

Result<Date> JSONValues::toDate(const nlohmann::json& value) {
  if (!value.is_string()) return Status::failure("expected a date text");
  auto date = parseDate(value.get<std::string>());
  if (!date) return Status::failure("the text \"" + value.get<std::string>() + "\" is not a date");
  return *date;
}

Result<nlohmann::json> JSONValues::toObject(const nlohmann::json& value) {
  if (value.is_object()) return value;
  return Status::failure("expected an object");
}

Result<nlohmann::json> JSONValues::toArray(const nlohmann::json& value) {
  if (value.is_array()) return value;
  return Status::failure("expected a list");
}

std::optional<Date> JSONValues::parseDate(const std::string& text) {
  // yyyy-MM-dd'T'HH:mm:ss[.fraction](Z|±HH:mm|±HHmm|±HH)
  size_t at = 0;
  int year, month, day, hour, minute, second;
  if (!readDigits(text, at, 4, year) || !expect(text, at, '-') || !readDigits(text, at, 2, month) ||
      !expect(text, at, '-') || !readDigits(text, at, 2, day)) {
    return std::nullopt;
  }
  if (!expect(text, at, 'T') && !expect(text, at, 't') && !expect(text, at, ' ')) {
    return std::nullopt;
  }
  if (!readDigits(text, at, 2, hour) || !expect(text, at, ':') ||
      !readDigits(text, at, 2, minute) || !expect(text, at, ':') ||
      !readDigits(text, at, 2, second)) {
    return std::nullopt;
  }
  double fraction = 0;
  if (expect(text, at, '.') || expect(text, at, ',')) {
    double scale = 0.1;
    size_t digits = 0;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
      fraction += (text[at] - '0') * scale;
      scale /= 10;
      ++at;
      ++digits;
    }
    if (digits == 0) return std::nullopt;
  }
  int offsetSeconds = 0;
  if (expect(text, at, 'Z') || expect(text, at, 'z')) {
    // UTC
  } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    int sign = text[at] == '-' ? -1 : 1;
    ++at;
    int offsetHours = 0, offsetMinutes = 0;
    if (!readDigits(text, at, 2, offsetHours)) return std::nullopt;
    if (at < text.size()) {
      expect(text, at, ':');
      if (!readDigits(text, at, 2, offsetMinutes)) return std::nullopt;
    }
    if (offsetHours > 23 || offsetMinutes > 59) return std::nullopt;
    offsetSeconds = sign * (offsetHours * 3600 + offsetMinutes * 60);
  } else {
    return std::nullopt;
  }
  if (at != text.size()) return std::nullopt;
  if (month < 1 || month > 12 || hour > 23 || minute > 59 || second > 60) return std::nullopt;

  using namespace std::chrono;
  year_month_day ymd{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                     std::chrono::day(static_cast<unsigned>(day))};
  if (!ymd.ok()) return std::nullopt;
  double days = static_cast<double>(sys_days(ymd).time_since_epoch().count());
  double seconds = days * 86400 + hour * 3600 + minute * 60 + second + fraction - offsetSeconds;
  return Date::fromSecondsSince1970(seconds);
}

std::string JSONValues::formatDate(Date date) {
  using namespace std::chrono;
  double seconds = date.secondsSince1970();
  if (!std::isfinite(seconds)) seconds = 0;
  // Outside the years 0000-9999 (which is all the reader takes) the nearest date inside is
  // written; beyond that the millisecond count below would overflow.
  seconds = std::clamp(seconds, -62167219200.0, 253402300799.999);
  auto milliseconds = static_cast<int64_t>(std::llround(seconds * 1000.0));
  int64_t wholeSeconds = milliseconds >= 0 ? milliseconds / 1000 : -((-milliseconds + 999) / 1000);
  int64_t millis = milliseconds - wholeSeconds * 1000;
  int64_t days = wholeSeconds >= 0 ? wholeSeconds / 86400 : -((-wholeSeconds + 86399) / 86400);
  int64_t secondOfDay = wholeSeconds - days * 86400;
  year_month_day ymd{sys_days(std::chrono::days(days))};
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:03}Z", static_cast<int>(ymd.year()),
                     static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                     secondOfDay / 3600, secondOfDay % 3600 / 60, secondOfDay % 60, millis);
}

void JSONValues::asReadBack(nlohmann::json& value) {
  // Without recursion: a value nested deeper than the stack allows is still only a loop.
  std::vector<nlohmann::json*> pending{&value};
  while (!pending.empty()) {
    nlohmann::json& v = *pending.back();
    pending.pop_back();
    if (v.is_number_float()) {
      if (!std::isfinite(v.get<double>())) v = nullptr;
    } else if (v.is_number_integer() && !v.is_number_unsigned()) {
      if (int64_t n = v.get<int64_t>(); n >= 0) v = static_cast<uint64_t>(n);
    } else if (v.is_structured()) {
      for (auto& element : v) pending.push_back(&element);
    }
  }
}

}  // namespace zelto
