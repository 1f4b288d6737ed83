#include "App/Guard/GuardRequest.h"

#include "Platform/JsonText.h"

namespace zelto {

Result<GuardRequest> GuardRequest::parse(std::string_view text) {
  auto value = JsonText::parse(text, kMaxDepth);
  if (!value) return Status::invalidInput("The request is not JSON: " + value.status().message());
  auto kindOf = value->is_object() ? value->find("request") : value->end();
  if (!value->is_object() || kindOf == value->end() || !kindOf->is_string()) {
    return Status::invalidInput("The request names no \"request\"");
  }
  const std::string& name = kindOf->get_ref<const std::string&>();
  GuardRequest request;
  if (name == "lock") {
    request.kind = Kind::kLock;
  } else if (name == "release") {
    request.kind = Kind::kRelease;
  } else if (name != "status") {
    return Status::invalidInput("Unknown request \"" + name.substr(0, 64) + "\"");
  }
  for (const auto& [key, item] : value->items()) {
    if (key == "request") continue;
    if (key == "lock" && request.kind == Kind::kLock) {
      auto lock = GuardLock::fromJson(item);
      if (!lock) return Status::invalidInput("The lock can't be used: " + lock.status().message());
      request.lock = std::move(lock).value();
    } else if (key == "uid" && request.kind != Kind::kLock) {
      if (!item.is_number_unsigned() || item.get<uint64_t>() >= UINT32_MAX) {
        return Status::invalidInput("\"uid\" is not a user ID");
      }
      request.uid = static_cast<uid_t>(item.get<uint64_t>());
    } else {
      return Status::invalidInput("Unknown key \"" + key.substr(0, 64) + "\" in a " + name +
                                  " request");
    }
  }
  if (request.kind == Kind::kLock && !request.lock) {
    return Status::invalidInput("A lock request carries no \"lock\"");
  }
  return request;
}

}  // namespace zelto
