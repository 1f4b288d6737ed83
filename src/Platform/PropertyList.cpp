#include "Platform/PropertyList.h"

#include <plist/plist.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

namespace zelto {

namespace {

// Seconds from 1970 to the property lists' reference date, 2001-01-01T00:00:00Z.
constexpr double kReferenceDateOffset = 978307200.0;

struct PlistDeleter {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// Whether XML property-list text nests no deeper than `limit` arrays and dictionaries and can
// hold no NUL character in a text (which the library asserts never happens, ending the
// process). The tags are counted outside comments, CDATA sections, declarations and processing
// instructions; a tag left open at the end needs no counting (the parser refuses the text).
bool xmlIsSafe(std::string_view text, int limit) {
  if (text.find('\0') != std::string_view::npos) return false;
  // A character reference to NUL (&#0; &#x00;), or out of range, which might wrap to it.
  for (size_t at = text.find("&#"); at != std::string_view::npos; at = text.find("&#", at + 2)) {
    size_t digit = at + 2;
    const bool hex = digit < text.size() && (text[digit] == 'x' || text[digit] == 'X');
    if (hex) ++digit;
    uint64_t value = 0;
    for (; digit < text.size() && std::isxdigit(static_cast<unsigned char>(text[digit])); ++digit) {
      const char c = text[digit];
      if (!hex && !std::isdigit(static_cast<unsigned char>(c))) break;
      const uint64_t d =
          std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c | 0x20) - 'a' + 10;
      value = std::min<uint64_t>(value * (hex ? 16 : 10) + d, 0x110000);
    }
    if (value == 0 || value > 0x10FFFF) return false;
  }
  auto skipPast = [&](size_t from, std::string_view end) {
    size_t at = text.find(end, from);
    return at == std::string_view::npos ? text.size() : at + end.size();
  };
  int depth = 0;
  size_t at = 0;
  while ((at = text.find('<', at)) != std::string_view::npos) {
    std::string_view rest = text.substr(at);
    if (rest.starts_with("<!--")) {
      at = skipPast(at + 4, "-->");
    } else if (rest.starts_with("<![CDATA[")) {
      at = skipPast(at + 9, "]]>");
    } else if (rest.starts_with("<?")) {
      at = skipPast(at + 2, "?>");
    } else if (rest.starts_with("<!")) {
      at = skipPast(at + 2, ">");
    } else {
      // A tag: its name runs to white space, '/' or '>'.
      size_t start = at + 1;
      const bool closing = start < text.size() && text[start] == '/';
      if (closing) ++start;
      size_t end = text.find_first_of(" \t\r\n/>", start);
      if (end == std::string_view::npos) return true;
      size_t close = text.find('>', end);
      if (close == std::string_view::npos) return true;
      std::string_view name = text.substr(start, end - start);
      if (name == "array" || name == "dict") {
        if (closing) {
          if (depth > 0) --depth;
        } else if (text[close - 1] != '/' && ++depth > limit) {
          return false;
        }
      }
      at = close + 1;
    }
  }
  return true;
}

// Whether a binary property list nests no deeper than `limit` arrays, sets and dictionaries
// from its top object, and holds no NUL character in a string or key it reaches (see
// xmlIsSafe). False too for bytes whose object table can't be followed (a reference out of
// range, a cycle): what can't be measured isn't handed on.
bool binaryIsSafe(std::string_view bytes, int limit) {
  constexpr size_t kHeader = 8, kTrailer = 32;
  if (bytes.size() < kHeader + kTrailer) return false;
  auto number = [&](size_t at, size_t size) {
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
  };
  const size_t trailer = bytes.size() - kTrailer;
  const size_t offsetSize = static_cast<uint8_t>(bytes[trailer + 6]);
  const size_t refSize = static_cast<uint8_t>(bytes[trailer + 7]);
  const uint64_t count = number(trailer + 8, 8);
  const uint64_t top = number(trailer + 16, 8);
  const uint64_t table = number(trailer + 24, 8);
  if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || count == 0 ||
      top >= count || table < kHeader || table > trailer ||
      count > (trailer - table) / offsetSize) {
    return false;
  }
  // The references an object holds, as the span [first, end) of its bytes; `container` when it
  // is an array, a set or a dictionary. False when its bytes run past the object table, or it
  // is a string holding NUL.
  auto references = [&](uint64_t object, size_t& first, size_t& end, bool& container) {
    const uint64_t offset = number(static_cast<size_t>(table + object * offsetSize), offsetSize);
    if (offset < kHeader || offset >= table) return false;
    const uint8_t marker = static_cast<uint8_t>(bytes[offset]);
    const int type = marker >> 4;
    first = end = static_cast<size_t>(offset) + 1;
    container = type == 0xA || type == 0xC || type == 0xD;
    const bool text = type == 0x5 || type == 0x6 || type == 0x7;  // ASCII, UTF-16, UTF-8
    if (!container && !text) return true;
    uint64_t items = marker & 0xF;
    if (items == 0xF) {  // the count follows as an integer object
      if (first >= table || static_cast<uint8_t>(bytes[first]) >> 4 != 1) return false;
      const size_t size = size_t{1} << (bytes[first] & 0x3);
      if (first + 1 + size > table) return false;
      items = number(first + 1, size);
      first += 1 + size;
    }
    if (text) {
      const uint64_t unit = type == 0x6 ? 2 : 1;
      if (items > (table - first) / unit) return false;
      for (size_t i = first; i < first + items * unit; i += unit) {
        if (bytes[i] == 0 && (unit == 1 || bytes[i + 1] == 0)) return false;
      }
      return true;
    }
    if (type == 0xD && items > UINT32_MAX) return false;
    if (type == 0xD) items *= 2;  // keys, then values
    if (items > (table - first) / refSize) return false;
    end = first + static_cast<size_t>(items) * refSize;
    return true;
  };
  // Depth-first from the top, the path kept here rather than on the stack. An object reached
  // again is measured once: its height (containers from it down its deepest branch) is kept.
  enum : uint8_t { kUnseen, kOpen, kDone };
  std::vector<uint8_t> state(static_cast<size_t>(count), kUnseen);
  std::vector<uint32_t> height(static_cast<size_t>(count), 0);
  struct Frame {
    uint64_t object;
    size_t next, end;
    uint32_t deepestChild;
  };
  std::vector<Frame> path;
  // Starts measuring `object`: a scalar is done at once, a container goes on the path.
  auto enter = [&](uint64_t object) {
    size_t first = 0, end = 0;
    bool container = false;
    if (!references(object, first, end, container)) return false;
    if (!container) {
      state[object] = kDone;
      return true;
    }
    state[object] = kOpen;
    path.push_back({object, first, end, 0});
    return path.size() <= static_cast<size_t>(limit);
  };
  if (!enter(top)) return false;
  while (!path.empty()) {
    Frame& frame = path.back();
    if (frame.next == frame.end) {
      const uint64_t done = frame.object;
      height[done] = frame.deepestChild + 1;
      state[done] = kDone;
      path.pop_back();
      if (!path.empty()) {
        path.back().deepestChild = std::max(path.back().deepestChild, height[done]);
      }
      continue;
    }
    const uint64_t child = number(frame.next, refSize);
    frame.next += refSize;
    if (child >= count || state[child] == kOpen) return false;
    if (state[child] == kDone) {
      frame.deepestChild = std::max(frame.deepestChild, height[child]);
      if (path.size() + height[child] > static_cast<size_t>(limit)) return false;
    } else if (!enter(child)) {
      return false;
    }
  }
  return height[top] <= static_cast<uint32_t>(limit);
}

// `node` as JSON; nothing when it nests deeper than `depthLeft` containers.
std::optional<nlohmann::json> toJson(plist_t node, int depthLeft) {
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t value = 0;
      plist_get_bool_val(node, &value);
      return value != 0;
    }
    case PLIST_UINT: {
      uint64_t value = 0;
      plist_get_uint_val(node, &value);
      // The library keeps every integer as 64 raw bits; negatives come back in two's complement.
      return static_cast<int64_t>(value);
    }
    case PLIST_REAL: {
      double value = 0;
      plist_get_real_val(node, &value);
      return value;
    }
    case PLIST_STRING:
    case PLIST_KEY: {
      if (plist_get_node_type(node) == PLIST_STRING) {
        uint64_t length = 0;
        const char* value = plist_get_string_ptr(node, &length);
        return value ? std::string(value, static_cast<size_t>(length)) : std::string();
      }
      char* value = nullptr;
      plist_get_key_val(node, &value);
      std::string text = value ? value : "";
      free(value);
      return text;
    }
    case PLIST_DATE: {
      int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      return kReferenceDateOffset + sec + usec / 1e6;
    }
    case PLIST_ARRAY: {
      if (depthLeft <= 0) return std::nullopt;
      nlohmann::json array = nlohmann::json::array();
      uint32_t size = plist_array_get_size(node);
      for (uint32_t i = 0; i < size; ++i) {
        auto item = toJson(plist_array_get_item(node, i), depthLeft - 1);
        if (!item) return std::nullopt;
        array.push_back(std::move(*item));
      }
      return array;
    }
    case PLIST_DICT: {
      if (depthLeft <= 0) return std::nullopt;
      nlohmann::json object = nlohmann::json::object();
      bool within = true;
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, it, &key, &value);
        if (value == nullptr) {
          free(key);
          break;
        }
        if (key != nullptr) {
          auto item = toJson(value, depthLeft - 1);
          if (item) {
            object[std::string(key)] = std::move(*item);
          } else {
            within = false;
          }
        }
        free(key);
        if (!within) break;
      }
      free(it);
      if (!within) return std::nullopt;
      return object;
    }
    default:
      return nlohmann::json(nullptr);
  }
}

plist_t fromJson(const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::boolean:
      return plist_new_bool(value.get<bool>() ? 1 : 0);
    case nlohmann::json::value_t::number_integer:
      return plist_new_uint(static_cast<uint64_t>(value.get<int64_t>()));
    case nlohmann::json::value_t::number_unsigned:
      return plist_new_uint(value.get<uint64_t>());
    case nlohmann::json::value_t::number_float:
      return plist_new_real(value.get<double>());
    case nlohmann::json::value_t::string:
      return plist_new_string(value.get_ref<const std::string&>().c_str());
    case nlohmann::json::value_t::array: {
      plist_t array = plist_new_array();
      for (const auto& item : value) {
        plist_t child = fromJson(item);
        if (child == nullptr) {
          plist_free(array);
          return nullptr;
        }
        plist_array_append_item(array, child);
      }
      return array;
    }
    case nlohmann::json::value_t::object: {
      plist_t dict = plist_new_dict();
      for (const auto& [key, item] : value.items()) {
        plist_t child = fromJson(item);
        if (child == nullptr) {
          plist_free(dict);
          return nullptr;
        }
        plist_dict_set_item(dict, key.c_str(), child);
      }
      return dict;
    }
    default:
      return nullptr;
  }
}

}  // namespace

std::optional<nlohmann::json> PropertyList::parse(const std::string& bytes) {
  if (bytes.empty() || bytes.size() > UINT32_MAX) return std::nullopt;
  const std::string_view text(bytes);
  const bool within =
      text.starts_with("bplist00") ? binaryIsSafe(text, kMaxDepth) : xmlIsSafe(text, kMaxDepth);
  if (!within) return std::nullopt;
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
  if (root == nullptr) return std::nullopt;
  PlistPtr owner(root);
  return toJson(root, kMaxDepth);
}

std::optional<std::string> PropertyList::toXML(const nlohmann::json& value) {
  plist_t root = fromJson(value);
  if (root == nullptr) return std::nullopt;
  PlistPtr owner(root);
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(root, &xml, &length);
  if (xml == nullptr) return std::nullopt;
  std::string text(xml, length);
  plist_to_xml_free(xml);
  return text;
}

}  // namespace zelto
