// QuoteZeltoPreferences: one quote of a profile, with its author.
//
// A plain record (see ZeltoBaseJSONModel): `{}` is a valid quote with empty texts. Two quotes
// are equal when both texts are; equal quotes hash alike. Any thread; whoever shares one
// serialises its use.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "App/Data/Preferences/ZeltoBaseJSONModel.h"

namespace zelto {

class QuoteZeltoPreferences : public JSONRecord<QuoteZeltoPreferences> {
 public:
  std::string quote;
  std::string author;  // empty when none

  // The field of that name ("quote" or "author"); nothing for any other name.
  std::optional<std::string> objectForKeyedSubscript(const std::string& name) const;

  // True only for a QuoteZeltoPreferences (or a class derived from it) with the same texts.
  bool isEqual(const ZeltoBaseJSONModel& other) const;
  bool operator==(const QuoteZeltoPreferences& other) const;
  std::size_t hash() const;

  static const std::vector<RecordField<QuoteZeltoPreferences>>& fields();
};

}  // namespace zelto
