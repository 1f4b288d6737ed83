#include "MainApp/ApiBody.h"

#include <fmt/format.h>

namespace zelto {

namespace {

using json = nlohmann::json;

std::string inQuotes(const std::string& key) {
  return json(key).dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

Result<ApiBody> ApiBody::parse(std::string_view text) {
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) {
    return ApiBody(json::object());
  }
  // No exceptions: a text that isn't JSON parses to "discarded". The parser's nesting is bounded
  // by the body's size, which the server limits.
  json object = json::parse(text, nullptr, false);
  if (object.is_discarded()) {
    return Status::invalidInput("The body is not JSON");
  }
  if (!object.is_object()) {
    return Status::invalidInput(
        fmt::format("The body is not a JSON object but {}", object.type_name()));
  }
  return ApiBody(std::move(object));
}

const json* ApiBody::take(const std::string& key, json::value_t type, const char* typeName) {
  known_.insert(key);
  auto found = object_.find(key);
  if (found == object_.end() || found->is_null()) return nullptr;
  const bool matches = type == json::value_t::string  ? found->is_string()
                       : type == json::value_t::array ? found->is_array()
                                                      : found->is_boolean();
  if (!matches) {
    if (!problem_) {
      problem_ = fmt::format("{} must be {}, not {}", inQuotes(key), typeName, found->type_name());
    }
    return nullptr;
  }
  return &*found;
}

std::optional<bool> ApiBody::flag(const std::string& key) {
  const json* value = take(key, json::value_t::boolean, "true or false");
  return value != nullptr ? std::optional<bool>(value->get<bool>()) : std::nullopt;
}

std::optional<std::string> ApiBody::text(const std::string& key) {
  const json* value = take(key, json::value_t::string, "a string");
  return value != nullptr ? std::optional<std::string>(value->get<std::string>()) : std::nullopt;
}

std::optional<std::vector<std::string>> ApiBody::texts(const std::string& key) {
  const json* value = take(key, json::value_t::array, "a list of strings");
  if (value == nullptr) return std::nullopt;
  if (value->size() > kMaxListEntries) {
    if (!problem_) {
      problem_ = fmt::format("{} holds {} entries; at most {} are taken", inQuotes(key),
                             value->size(), kMaxListEntries);
    }
    return std::nullopt;
  }
  std::vector<std::string> out;
  out.reserve(value->size());
  for (const json& entry : *value) {
    if (!entry.is_string()) {
      if (!problem_) {
        problem_ = fmt::format("{} must be a list of strings; it holds {}", inQuotes(key),
                               entry.type_name());
      }
      return std::nullopt;
    }
    out.push_back(entry.get<std::string>());
  }
  return out;
}

std::optional<std::string> ApiBody::problem() const {
  if (problem_) return problem_;
  for (const auto& [key, value] : object_.items()) {
    if (known_.count(key) == 0) return fmt::format("Unknown key {}", inQuotes(key));
  }
  return std::nullopt;
}

}  // namespace zelto
