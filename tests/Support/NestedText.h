// NestedText: text nested many levels deep, for the bounds on nesting in the parsers.
#pragma once

#include <cstddef>
#include <string>

namespace zelto::testing {

// `open` `depth` times, then `inner`, then `close` as many times.
inline std::string nested(const std::string& open, const std::string& close, size_t depth,
                          const std::string& inner = "") {
  std::string text;
  text.reserve(depth * (open.size() + close.size()) + inner.size());
  for (size_t i = 0; i < depth; ++i) text += open;
  text += inner;
  for (size_t i = 0; i < depth; ++i) text += close;
  return text;
}

// An XML property list document around `body`.
inline std::string plistDocument(const std::string& body) {
  return "<?xml version=\"1.0\"?><plist version=\"1.0\">" + body + "</plist>";
}

}  // namespace zelto::testing
