#include "Platform/UUID.h"

#include <uuid/uuid.h>

namespace zelto {

std::string UUID::generateString() {
  uuid_t value;
  uuid_generate_random(value);
  char text[37];
  uuid_unparse_upper(value, text);
  return text;
}

}  // namespace zelto
