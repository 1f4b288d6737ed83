// ApiBody: the JSON object of one settings-page request, read strictly into a command's options:
// each option is taken by name and type, and anything else is a mistake named in the answer (a
// key no option has, a value of the wrong type, a list too long).
//
// Reading never fails on the spot: the first problem is kept, the value asked for falls back,
// and `problem` tells it once every option has been taken (so that an unknown key is found
// after the known ones). A plain value; any thread, one at a time.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Status.h"

namespace zelto {

class ApiBody {
 public:
  // The most entries a list takes (patterns, paths).
  static constexpr size_t kMaxListEntries = 10000;

  // `text` as a JSON object; an empty text is the empty object. Fails, naming the problem, for
  // text that isn't JSON or isn't an object.
  static Result<ApiBody> parse(std::string_view text);

  // The value of `key`: nothing when absent or null; a problem when of another type.
  std::optional<bool> flag(const std::string& key);
  std::optional<std::string> text(const std::string& key);
  // A list of texts, at most kMaxListEntries of them.
  std::optional<std::vector<std::string>> texts(const std::string& key);

  // `key` may come but is not read (an option of another action is still an unknown key).
  void allow(const std::string& key) { known_.insert(key); }
  // The first problem met: a wrong type, or else a key none of the calls above took.
  std::optional<std::string> problem() const;

 private:
  explicit ApiBody(nlohmann::json object) : object_(std::move(object)) {}
  const nlohmann::json* take(const std::string& key, nlohmann::json::value_t type,
                             const char* typeName);

  nlohmann::json object_;
  std::set<std::string> known_;
  std::optional<std::string> problem_;
};

}  // namespace zelto
