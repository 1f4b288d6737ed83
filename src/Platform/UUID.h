// UUID: random identifiers in their 36-character text form.
//
// Thread safety: any thread.
#pragma once

#include <string>

namespace zelto {

class UUID {
 public:
  // A new random (version 4) UUID with upper-case hexadecimal digits and four hyphens.
  static std::string generateString();
};

}  // namespace zelto
