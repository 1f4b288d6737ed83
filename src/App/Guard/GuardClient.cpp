#include "App/Guard/GuardClient.h"

#include "Platform/JsonText.h"
#include "Platform/LocalSocket.h"
#include "Platform/ProcessInfo.h"

namespace zelto {

std::string GuardClient::socketPath() {
  std::optional<std::string> set = ProcessInfo::environmentValue("ZELTO_GUARD_SOCKET");
  return set && !set->empty() ? *set : kDefaultSocket;
}

Result<nlohmann::json> GuardClient::ask(const nlohmann::json& request) {
  const std::string path = socketPath();
  auto answer = LocalSocket::exchange(path, request.dump(), 10, kMaxAnswerBytes);
  if (!answer) return answer.status();
  auto value = JsonText::parse(*answer);
  if (!value || !value->is_object() || !value->contains("ok")) {
    return Status::ioError("The system guard at " + path + " gave an answer that can't be read");
  }
  return value;
}

}  // namespace zelto
