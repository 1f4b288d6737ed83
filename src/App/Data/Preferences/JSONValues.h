// JSONValues: the conversions between JSON values and record field values.
//
// Every conversion yields the value or a failure whose reason is a short phrase ("expected a
// number"); the record layer puts the key path before it. Conversions are deliberately strict where
// a wrong guess could change a user's settings (a negative number for an unsigned field, a value
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

#include "Platform/Date.h"
#include "Platform/Status.h"

namespace zelto {

class JSONValues {
 public:
  static Result<std::string> toText(const nlohmann::json& value);
  static Result<bool> toFlag(const nlohmann::json& value);
  static Result<int32_t> toInt32(const nlohmann::json& value);
  static Result<int64_t> toInt64(const nlohmann::json& value);
  static Result<uint64_t> toUInt64(const nlohmann::json& value);
  static Result<double> toDouble(const nlohmann::json& value);
  // A number kept as it was written (integer or not).
  static Result<nlohmann::json> toNumber(const nlohmann::json& value);
  static Result<Date> toDate(const nlohmann::json& value);
  static Result<nlohmann::json> toObject(const nlohmann::json& value);
  static Result<nlohmann::json> toArray(const nlohmann::json& value);

  // The moment a text in one of the forms above stands for; nothing for any other text.
  static std::optional<Date> parseDate(const std::string& text);
  static std::string formatDate(Date date);

  // Makes `value` what writing it to a file and reading it back gives: a number that isn't
  // finite is written as null, a whole number that isn't negative is read back as unsigned;
  // everything else comes back as it was.
  static void asReadBack(nlohmann::json& value);
};

}  // namespace zelto
