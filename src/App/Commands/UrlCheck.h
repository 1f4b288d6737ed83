// UrlCheck: which rule of the current site lists decides an address, as `zeltoctl check-url
// --explain` prints it and the settings page shows it.
//
// Class operations only; the thread that owns the controller.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "App/Controller/Zelto.h"

namespace zelto {

class UrlCheck {
 public:
  // {"url": `url`, "blocked": bool, "rank": 1..5, "pattern": "..."}: the rank of the rule that
  // decided (1 a "+" pattern, 2 a "-" pattern, 3 an allowing pattern, 4 a blocking pattern, 5 no
  // pattern matched) and the deciding pattern, lower-cased ("(no match)" for rank 5, "(block
  // page)" for the block page's own address).
  static nlohmann::json explain(Zelto& zelto, const std::string& url);
};

}  // namespace zelto
