#include "Platform/JsonText.h"

#include <simdjson.h>

#include <exception>
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
      if (c == '\\') {
        ++i;  // the escaped character, whatever it is
      } else if (c == '"') {
        inString = false;
      }
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

// The value simdjson read, as the JSON library's own parser makes it: a whole number without a
// sign is unsigned, one with a minus sign signed, any other a double; of repeated keys the last
// counts. Recurses once per level: the text was measured against the depth bound first.
json convert(simdjson::dom::element element) {
  using Type = simdjson::dom::element_type;
  switch (element.type()) {
    case Type::ARRAY: {
      simdjson::dom::array array = element.get_array().value_unsafe();
      json out = json::array();
      json::array_t& items = out.get_ref<json::array_t&>();
      items.reserve(array.size());
      for (simdjson::dom::element item : array) items.push_back(convert(item));
      return out;
    }
    case Type::OBJECT: {
      simdjson::dom::object object = element.get_object().value_unsafe();
      json out = json::object();
      json::object_t& members = out.get_ref<json::object_t&>();
      for (simdjson::dom::key_value_pair member : object) {
        members.insert_or_assign(std::string(member.key), convert(member.value));
      }
      return out;
    }
    case Type::STRING:
      return json(std::string(element.get_string().value_unsafe()));
    case Type::INT64: {
      const int64_t n = element.get_int64().value_unsafe();
      if (n >= 0) return json(static_cast<uint64_t>(n));
      return json(n);
    }
    case Type::UINT64:
      return json(element.get_uint64().value_unsafe());
    case Type::DOUBLE:
      return json(element.get_double().value_unsafe());
    case Type::BOOL:
      return json(element.get_bool().value_unsafe());
    case Type::NULL_VALUE:
      break;
  }
  return json(nullptr);
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
      simdjson::dom::parser parser;
      simdjson::dom::element root;
      if (parser.parse(text.data(), text.size()).get(root) == simdjson::SUCCESS) {
        return convert(root);
      }
    }
    return nlohmann::json::parse(text);
  } catch (const std::exception& e) {  // a parse error, or memory running out
    return Status::failure(e.what());
  }
}

}  // namespace zelto
