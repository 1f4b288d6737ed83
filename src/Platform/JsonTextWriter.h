// JsonTextWriter: compact JSON text appended to a string piece by piece, each value exactly as
// the JSON library's own compact print (dump) gives it, so that an object written member by
// member in key order reads the same as the library's print of the whole object.
//
// Text that isn't valid UTF-8 throws the library's type error, as its strict print does.
//
// Writes to a string the caller owns and keeps alive; one thread.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace zelto {

class JsonTextWriter {
 public:
  explicit JsonTextWriter(std::string& out)
      : out_(out), serializer_(nlohmann::detail::output_adapter<char>(out), ' ') {}

  // `value` as its compact print gives it.
  void value(const nlohmann::json& value);
  // `text` as a JSON string.
  void text(const std::string& text);
  // Text already JSON (a bracket, a comma), appended as it is.
  void raw(std::string_view text) { out_.append(text); }

  // The length of the text so far, and going back to an earlier length (dropping what was
  // written since).
  size_t size() const { return out_.size(); }
  void truncate(size_t size) { out_.resize(size); }

 private:
  std::string& out_;
  nlohmann::detail::serializer<nlohmann::json> serializer_;
};

}  // namespace zelto
