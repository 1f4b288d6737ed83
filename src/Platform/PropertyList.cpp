#include "Platform/PropertyList.h"

#include <plist/plist.h>

#include <cstdlib>
#include <memory>

namespace zelto {

namespace {

// Seconds from 1970 to the property lists' reference date, 2001-01-01T00:00:00Z.
constexpr double kReferenceDateOffset = 978307200.0;

struct PlistDeleter {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

nlohmann::json toJson(plist_t node) {
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
      char* value = nullptr;
      if (plist_get_node_type(node) == PLIST_STRING) {
        plist_get_string_val(node, &value);
      } else {
        plist_get_key_val(node, &value);
      }
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
      nlohmann::json array = nlohmann::json::array();
      uint32_t size = plist_array_get_size(node);
      for (uint32_t i = 0; i < size; ++i) array.push_back(toJson(plist_array_get_item(node, i)));
      return array;
    }
    case PLIST_DICT: {
      nlohmann::json object = nlohmann::json::object();
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
        if (key != nullptr) object[std::string(key)] = toJson(value);
        free(key);
      }
      free(it);
      return object;
    }
    default:
      return nullptr;
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
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
  if (root == nullptr) return std::nullopt;
  PlistPtr owner(root);
  return toJson(root);
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
