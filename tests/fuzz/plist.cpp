// Fuzz target: a user-defaults property list. The whole input is the bytes of the file.
//
// The bytes are read as the settings store reads its file. Settings that are read can be
// written back, and what is written reads again as the same keys.
#include <set>
#include <string>

#include "Platform/PropertyList.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelto;
  auto values = PropertyList::parse(std::string(fuzz::bytesOf(data, size)));
  if (!values || !values->is_object()) return 0;
  auto xml = PropertyList::toXML(*values);
  if (!xml) return 0;  // a value the format can't hold (raw data reads as null)
  auto again = PropertyList::parse(*xml);
  fuzz::require(again && again->is_object(), "written settings read again");
  std::set<std::string> keys, keysAgain;
  for (const auto& [key, value] : values->items()) keys.insert(key);
  for (const auto& [key, value] : again->items()) keysAgain.insert(key);
  fuzz::require(keys == keysAgain, "written settings keep their keys");
  return 0;
}
