// JSONValues: the conversions between JSON values and record field values.
//
// Every conversion either yields the value or says, in a short phrase, why it can't ("expected
// a number"); the record layer adds the key path. Conversions are deliberately strict where a
// wrong guess could change a user's settings (a negative number for an unsigned field, a value
// beyond a field's range), and lenient where old files differ harmlessly (a flag stored as a
// number, an integer stored as decimal text).
//
// Dates are read in the form the defaults use, "yyyy-MM-dd'T'HH:mm:ss'Z'", and in the general
// ISO 8601 / RFC 3339 forms (fractional seconds; "Z", "+01:00" or "+0100"); they are written in
// UTC with milliseconds, e.g. 2026-12-06T09:05:00.123Z.
//
// Stateless; any thread.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <variant>

#include "Platform/Date.h"

namespace zelto {

// Why a JSON value could not be converted, in a short phrase.
struct ConversionError {
  std::string reason;
};

// A value, or the reason there is none.
template <typename T>
using Converted = std::variant<T, ConversionError>;

class JSONValues {
 public:
  static Converted<std::string> toText(const nlohmann::json& value);
  static Converted<bool> toFlag(const nlohmann::json& value);
  static Converted<int32_t> toInt32(const nlohmann::json& value);
  static Converted<int64_t> toInt64(const nlohmann::json& value);
  static Converted<uint64_t> toUInt64(const nlohmann::json& value);
  static Converted<double> toDouble(const nlohmann::json& value);
  // A number kept as it was written (integer or not).
  static Converted<nlohmann::json> toNumber(const nlohmann::json& value);
  static Converted<Date> toDate(const nlohmann::json& value);
  static Converted<nlohmann::json> toObject(const nlohmann::json& value);
  static Converted<nlohmann::json> toArray(const nlohmann::json& value);

  static std::optional<Date> parseDate(const std::string& text);
  static std::string formatDate(Date date);
};

}  // namespace zelto
