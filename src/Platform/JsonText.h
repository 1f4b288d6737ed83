// JsonText: JSON text from a file or the network made a value, with nesting bounded.
//
// The JSON library recurses once per level of nesting when it copies, compares, prints or
// frees a value, so a value nested many thousands deep ends the process. Every JSON text the
// program reads from outside is parsed here, and text nested deeper than the reader's bound is
// refused before it is parsed (a linear scan of the brackets outside strings), so every value
// the program holds is shallow enough for any of those operations.
//
// Stateless; any thread.
#pragma once

#include <nlohmann/json.hpp>
#include <string_view>

#include "Platform/Status.h"

namespace zelto {

class JsonText {
 public:
  // The deepest nesting of arrays and objects that `parse` takes unless told otherwise.
  static constexpr int kMaxDepth = 512;

  // Whether `text` nests no deeper than `limit` arrays and objects (a flat array is one level).
  // Text that isn't JSON is measured all the same, as far as it goes.
  static bool depthWithin(std::string_view text, int limit);

  // The value of `text`. A failure when it nests deeper than `maxDepth` ("nesting deeper than
  // 512 levels"), or isn't JSON (the parser's message); never throws.
  static Result<nlohmann::json> parse(std::string_view text, int maxDepth = kMaxDepth);
};

}  // namespace zelto
