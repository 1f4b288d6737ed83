// PropertyList: reading and writing property lists (XML or binary) as JSON values.
//
// Dictionaries become objects, arrays arrays, strings strings, booleans booleans, integers
// numbers (signed 64-bit), reals numbers. JSON has no dates or raw data: a date becomes its
// seconds since 1970 and a data item null; nothing this program stores uses either. Writing
// produces an XML property list.
//
// Thread safety: stateless; any thread.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace zelto {

class PropertyList {
 public:
  // Parses XML or binary property-list bytes; nothing when they are not a property list.
  static std::optional<nlohmann::json> parse(const std::string& bytes);
  // Serialises as an XML property list; nothing when the value can't be represented (null).
  static std::optional<std::string> toXML(const nlohmann::json& value);
};

}  // namespace zelto
