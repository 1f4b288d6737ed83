#include "Platform/JsonText.h"

#include <exception>
#include <string>

namespace zelto {

bool JsonText::depthWithin(std::string_view text, int limit) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;  // the escaped character, whatever it is
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return false;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return true;
}

Result<nlohmann::json> JsonText::parse(std::string_view text, int maxDepth) {
  if (!depthWithin(text, maxDepth)) {
    return Status::failure("nesting deeper than " + std::to_string(maxDepth) + " levels");
  }
  try {
    return nlohmann::json::parse(text);
  } catch (const std::exception& e) {  // a parse error, or memory running out
    return Status::failure(e.what());
  }
}

}  // namespace zelto
