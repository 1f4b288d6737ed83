#include "App/Data/Preferences/QuoteZeltoPreferences.h"

#include <functional>

namespace zelto {

std::optional<std::string> QuoteZeltoPreferences::objectForKeyedSubscript(
    const std::string& name) const {
  if (name == "quote") return quote;
  if (name == "author") return author;
  return std::nullopt;
}

bool QuoteZeltoPreferences::isEqual(const ZeltoBaseJSONModel& other) const {
  const auto* that = dynamic_cast<const QuoteZeltoPreferences*>(&other);
  return that != nullptr && *this == *that;
}

bool QuoteZeltoPreferences::operator==(const QuoteZeltoPreferences& other) const {
  return quote == other.quote && author == other.author;
}

std::size_t QuoteZeltoPreferences::hash() const {
  return std::hash<std::string>{}(quote) ^ std::hash<std::string>{}(author);
}

const std::vector<RecordField<QuoteZeltoPreferences>>& QuoteZeltoPreferences::fields() {
  using Q = QuoteZeltoPreferences;
  static const std::vector<RecordField<Q>> table{
      fields::text("quote", &Q::quote, ""),
      fields::text("author", &Q::author, ""),
  };
  return table;
}

}  // namespace zelto
