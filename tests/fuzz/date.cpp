// Fuzz target: the parser of record dates. The whole input is the date text.
//
// A text that parses is formatted, and the formatted text must parse again to the same moment
// (to the millisecond the format keeps) and format again to the same text.
#include <cmath>
#include <string>

#include "App/Data/Preferences/JSONValues.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelto;
  auto date = JSONValues::parseDate(std::string(fuzz::bytesOf(data, size)));
  if (!date) return 0;
  const double seconds = date->secondsSince1970();
  fuzz::require(std::isfinite(seconds), "a parsed date is finite");
  const std::string text = JSONValues::formatDate(*date);
  auto again = JSONValues::parseDate(text);
  fuzz::require(again.has_value(), "a formatted date parses");
  fuzz::require(JSONValues::formatDate(*again) == text, "a formatted date formats the same");
  // The years 0000-9999 are written as they are; beyond them the nearest date inside is.
  // Rounding to the millisecond may move a moment by half of one, and the seconds themselves
  // are only as exact as a double this far from 1970 (a few units of its last place).
  if (seconds >= -62167219200.0 && seconds <= 253402300799.0) {
    const double lastPlace = std::fabs(std::nextafter(seconds, INFINITY) - seconds);
    fuzz::require(std::fabs(again->secondsSince1970() - seconds) <= 0.0005 + 4 * lastPlace,
                  "a formatted date keeps its moment");
  }
  return 0;
}
