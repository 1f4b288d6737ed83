// PropertyList: reading and writing property lists (XML or binary) as JSON values.
//
// Dictionaries become objects, arrays arrays, strings strings, booleans booleans, integers
// numbers (signed 64-bit), reals numbers. JSON has no dates or raw data: a date becomes its
// seconds since 1970 and a data item null; nothing this program stores uses either. Writing
// produces an XML property list.
//
// Bytes nested deeper than kMaxDepth containers are refused before the library sees them: it
// recurses once per level, in its parsers and when it frees a value, as does the conversion.
//
// Thread safety: stateless; any thread.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace zelto {

class PropertyList {
 public:
  // The most a property list file is read to (settings, Info.plist): real ones take a few
  // kilobytes.
  static constexpr uint64_t kMaxBytes = 1024 * 1024;
  // The deepest nesting of arrays and dictionaries taken.
  static constexpr int kMaxDepth = 512;

  // Parses XML or binary property-list bytes; nothing when they are not a property list, nest
  // deeper than kMaxDepth, or would give a text holding NUL (the library aborts on one).
  static std::optional<nlohmann::json> parse(const std::string& bytes);
  // Serialises as an XML property list; nothing when the value can't be represented (null).
  static std::optional<std::string> toXML(const nlohmann::json& value);
};

}  // namespace zelto
