#include "Platform/JsonTextWriter.h"

namespace zelto {

void JsonTextWriter::value(const nlohmann::json& value) {
  // Lists and objects member by member, so that their texts take the quick way below.
  if (value.is_array()) {
    out_ += '[';
    bool first = true;
    for (const nlohmann::json& item : value.get_ref<const nlohmann::json::array_t&>()) {
      if (!first) out_ += ',';
      first = false;
      this->value(item);
    }
    out_ += ']';
  } else if (value.is_object()) {
    out_ += '{';
    bool first = true;
    for (const auto& [key, item] : value.get_ref<const nlohmann::json::object_t&>()) {
      if (!first) out_ += ',';
      first = false;
      text(key);
      out_ += ':';
      this->value(item);
    }
    out_ += '}';
  } else if (value.is_string()) {
    text(value.get_ref<const std::string&>());
  } else {
    serializer_.dump(value, false, false, 0);
  }
}

void JsonTextWriter::text(const std::string& text) {
  // Printable ASCII other than the quote and the backslash is printed as it is; anything else
  // (an escape, a character beyond ASCII and its UTF-8 check) is left to the library.
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x80 || c == '"' || c == '\\') {
      serializer_.dump(nlohmann::json(text), false, false, 0);
      return;
    }
  }
  out_ += '"';
  out_ += text;
  out_ += '"';
}

}  // namespace zelto
