#include "Platform/Text.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>

namespace zelto {
namespace {

// ICU strings count in int32_t: a longer text is lower-cased in pieces of at most this many
// bytes, cut between characters.
constexpr size_t kLongestPiece = size_t{1} << 30;

bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The code point that begins at `at`, and its length in bytes; invalid sequences read as a
// negative code point.
UChar32 codePointAt(std::string_view text, size_t at, size_t& length) {
  const int32_t available = static_cast<int32_t>(std::min<size_t>(text.size() - at, U8_MAX_LENGTH));
  int32_t i = 0;
  UChar32 c;
  U8_NEXT(text.data() + at, i, available, c);
  length = static_cast<size_t>(i);
  return c;
}

// The code point that ends just before `end`, and its length in bytes.
UChar32 codePointBefore(std::string_view text, size_t end, size_t& length) {
  const int32_t available = static_cast<int32_t>(std::min<size_t>(end, U8_MAX_LENGTH));
  const char* window = text.data() + end - available;
  int32_t i = available;
  UChar32 c;
  U8_PREV(window, 0, i, c);
  length = static_cast<size_t>(available - i);
  return c;
}

}  // namespace

bool Text::equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return asciiLower(x) == asciiLower(y);
         });
}

bool Text::startsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         equalsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

std::string Text::asciiLowercase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = asciiLower(c);
  return out;
}

std::string Text::lowercase(std::string_view text) {
  if (isAscii(text)) return asciiLowercase(text);
  std::string out;
  out.reserve(text.size());
  for (size_t start = 0; start < text.size();) {
    size_t end = std::min(text.size(), start + kLongestPiece);
    for (int back = 0;
         back < U8_MAX_LENGTH - 1 && end < text.size() && isContinuationByte(text[end]); ++back) {
      --end;
    }
    icu::UnicodeString piece = icu::UnicodeString::fromUTF8(text.substr(start, end - start));
    piece.toLower(icu::Locale::getRoot());
    piece.toUTF8String(out);  // appends
    start = end;
  }
  return out;
}

std::string Text::trimBlanks(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size()) {
    size_t length = 0;
    const UChar32 c = codePointAt(text, begin, length);
    if (c < 0 || !u_isblank(c)) break;
    begin += length;
  }
  size_t end = text.size();
  while (end > begin) {
    size_t length = 0;
    const UChar32 c = codePointBefore(text.substr(begin), end - begin, length);
    if (c < 0 || !u_isblank(c)) break;
    end -= length;
  }
  return std::string(text.substr(begin, end - begin));
}

}  // namespace zelto
