#include "Platform/JsonText.h"

#include <simdjson.h>

#include <cstring>
#include <exception>
#include <optional>
#include <string>

namespace zelto {

namespace {

using json = nlohmann::json;

// What a scan of the text outside its strings tells before it is parsed.
struct Shape {
  bool withinDepth = true;
  // An integer written "-0": the fast reader can't tell it from "0", which the value keeps
  // apart (signed, not unsigned).
  bool negativeZero = false;
};

bool continuesNumber(char c) { return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E'; }

Shape scan(std::string_view text, int limit) {
  Shape shape;
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      // Most of a configuration is the text of its strings: the scan jumps to the next quote,
      // which ends the string unless an odd number of backslashes stands before it.
      const void* quote = std::memchr(text.data() + i, '"', text.size() - i);
      if (quote == nullptr) break;
      i = static_cast<const char*>(quote) - text.data();
      size_t backslashes = 0;
      while (backslashes < i && text[i - 1 - backslashes] == '\\') ++backslashes;
      if (backslashes % 2 == 0) inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) {
        shape.withinDepth = false;
        return shape;
      }
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '0' &&
               (i + 2 == text.size() || !continuesNumber(text[i + 2]))) {
      shape.negativeZero = true;
    }
  }
  return shape;
}

namespace od = simdjson::ondemand;

// The value simdjson reads at `value`, made as the JSON library's own parser makes it: a whole
// number without a sign is unsigned, one with a minus sign signed, any other a double; of
// repeated keys the last counts. False when the fast reader doesn't take the text there (the
// caller then leaves it to the library's parser). Recurses once per level: the text was
// measured against the depth bound first.
//
// The reader goes through the text once and keeps no tree of its own: for a configuration of
// megabytes that is most of the memory a parse would otherwise take.
bool convert(od::value value, json& out) {
  od::json_type type;
  if (value.type().get(type) != simdjson::SUCCESS) return false;
  switch (type) {
    case od::json_type::array: {
      od::array array;
      if (value.get_array().get(array) != simdjson::SUCCESS) return false;
      out = json::array();
      json::array_t& items = out.get_ref<json::array_t&>();
      for (simdjson::simdjson_result<od::value> item : array) {
        od::value element;
        if (item.get(element) != simdjson::SUCCESS) return false;
        if (!convert(element, items.emplace_back())) return false;
      }
      return true;
    }
    case od::json_type::object: {
      od::object object;
      if (value.get_object().get(object) != simdjson::SUCCESS) return false;
      out = json::object();
      json::object_t& members = out.get_ref<json::object_t&>();
      for (simdjson::simdjson_result<od::field> field : object) {
        std::string_view key;
        od::value element;
        if (field.unescaped_key().get(key) != simdjson::SUCCESS) return false;
        std::string name(key);  // the key's bytes are overwritten by the next string read
        if (field.value().get(element) != simdjson::SUCCESS) return false;
        json member;
        if (!convert(element, member)) return false;
        members.insert_or_assign(std::move(name), std::move(member));
      }
      return true;
    }
    case od::json_type::number: {
      od::number_type kind;
      if (value.get_number_type().get(kind) != simdjson::SUCCESS) return false;
      if (kind == od::number_type::signed_integer) {
        int64_t n;
        if (value.get_int64().get(n) != simdjson::SUCCESS) return false;
        out = n >= 0 ? json(static_cast<uint64_t>(n)) : json(n);
      } else if (kind == od::number_type::unsigned_integer) {
        uint64_t n;
        if (value.get_uint64().get(n) != simdjson::SUCCESS) return false;
        out = n;
      } else {
        double d;
        if (value.get_double().get(d) != simdjson::SUCCESS) return false;
        out = d;
      }
      return true;
    }
    case od::json_type::string: {
      std::string_view text;
      if (value.get_string().get(text) != simdjson::SUCCESS) return false;
      out = std::string(text);
      return true;
    }
    case od::json_type::boolean: {
      bool b;
      if (value.get_bool().get(b) != simdjson::SUCCESS) return false;
      out = b;
      return true;
    }
    case od::json_type::null: {
      bool null = false;
      if (value.is_null().get(null) != simdjson::SUCCESS || !null) return false;
      out = nullptr;
      return true;
    }
  }
  return false;
}

// The whole text read by the fast reader, when it takes it: an array or an object with
// nothing after it (a lone scalar is left to the library's parser).
std::optional<json> readFast(std::string_view text) {
  const simdjson::padded_string padded(text);
  od::parser parser;
  od::document document;
  if (parser.iterate(padded).get(document) != simdjson::SUCCESS) return std::nullopt;
  od::json_type type;
  if (document.type().get(type) != simdjson::SUCCESS) return std::nullopt;
  if (type != od::json_type::array && type != od::json_type::object) return std::nullopt;
  od::value root;
  if (document.get_value().get(root) != simdjson::SUCCESS) return std::nullopt;
  json out;
  if (!convert(root, out)) return std::nullopt;
  // Past the root, the reader's place is out of the text's bounds, unless something follows.
  const char* rest = nullptr;
  if (document.current_location().get(rest) != simdjson::OUT_OF_BOUNDS) return std::nullopt;
  return out;
}

}  // namespace

bool JsonText::depthWithin(std::string_view text, int limit) {
  return scan(text, limit).withinDepth;
}

Result<nlohmann::json> JsonText::parse(std::string_view text, int maxDepth) {
  const Shape shape = scan(text, maxDepth);
  if (!shape.withinDepth) {
    return Status::failure("nesting deeper than " + std::to_string(maxDepth) + " levels");
  }
  try {
    // The fast reader takes a subset of what the library's parser takes (it refuses a byte
    // order mark, and numbers beyond the range of a double or of 64-bit integers) and gives
    // the same value for it. Whatever it refuses goes to the library's parser, which gives the
    // value or the reason the text is refused.
    if (!shape.negativeZero) {
      if (std::optional<json> value = readFast(text)) return std::move(*value);
    }
    return nlohmann::json::parse(text);
  } catch (const std::exception& e) {  // a parse error, or memory running out
    return Status::failure(e.what());
  }
}

}  // namespace zelto
