#include "Platform/JsonTextWriter.h"

#include <cstdint>
#include <cstring>

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

namespace {

// Whether any of the eight bytes in `word` is a control character, beyond ASCII, a quote or a
// backslash: the bytes plain text can't be copied with.
bool holdsSpecialByte(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kHighs = 0x8080808080808080ULL;
  auto zeroByte = [&](uint64_t w) { return (w - kOnes) & ~w & kHighs; };
  return ((word | ((word - kOnes * 0x20) & ~word)) & kHighs) != 0 ||
         zeroByte(word ^ (kOnes * '"')) != 0 || zeroByte(word ^ (kOnes * '\\')) != 0;
}

}  // namespace

void JsonTextWriter::text(const std::string& text) {
  // Printable ASCII is copied in runs, a quote or a backslash escaped on the way; a control
  // character or a byte beyond ASCII (and its UTF-8 check) leaves the whole text to the library.
  const size_t start = out_.size();
  out_ += '"';
  const char* const end = text.data() + text.size();
  const char* run = text.data();
  const char* at = run;
  while (at != end) {
    // Eight plain bytes at a time, then byte by byte up to the next one that isn't.
    uint64_t word;
    if (end - at >= 8 && (std::memcpy(&word, at, 8), !holdsSpecialByte(word))) {
      at += 8;
      continue;
    }
    const auto byte = static_cast<unsigned char>(*at);
    if (byte >= 0x20 && byte < 0x80 && byte != '"' && byte != '\\') {
      ++at;
      continue;
    }
    if (byte != '"' && byte != '\\') {
      out_.resize(start);
      serializer_.dump(nlohmann::json(text), false, false, 0);
      return;
    }
    out_.append(run, at);
    out_ += '\\';
    run = at++;  // the quote or backslash itself starts the next run
  }
  out_.append(run, end);
  out_ += '"';
}

}  // namespace zelto
