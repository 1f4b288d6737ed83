// Fuzz target: the configuration file. The whole input is the bytes of default.cfg.
//
// The bytes are loaded as the agent loads its configuration (read, parse, map to the record).
// A record that loads is saved and loaded again, and the second load must give the same record.
// Files live in a private directory, on /dev/shm when there is one (a save flushes to disk).
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "App/Data/Preferences/JSONValues.h"
#include "App/Data/Preferences/ZeltoPreferences.h"
#include "fuzz/FuzzInput.h"

namespace {

const std::string& workDirectory() {
  static const std::string directory = [] {
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/zelto-fuzz-config-XXXXXX";
    zelto::fuzz::require(mkdtemp(pattern.data()) != nullptr, "a work directory");
    return pattern;
  }();
  return directory;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelto;
  fuzz::quietLog();
  const std::string input = workDirectory() + "/input.cfg";
  const std::string saved = workDirectory() + "/saved.cfg";
  {
    std::ofstream file(input, std::ios::binary | std::ios::trunc);
    file << fuzz::bytesOf(data, size);
    fuzz::require(file.good(), "the input written");
  }
  Result<nlohmann::json> object = ZeltoBasePreferences::configObjectAtPath(input);
  if (!object.ok()) return 0;
  Result<ZeltoPreferences> first = ZeltoPreferences::initWithNamespace("default", *object);
  if (!first.ok()) return 0;
  // Text that isn't UTF-8 can't be saved; that is a failure, not a broken file.
  if (!first->saveToPath(saved).ok()) return 0;

  Result<nlohmann::json> again = ZeltoBasePreferences::configObjectAtPath(saved);
  fuzz::require(again.ok(), "a saved configuration loads");
  Result<ZeltoPreferences> second = ZeltoPreferences::initWithNamespace("default", *again);
  fuzz::require(second.ok(), "a saved configuration maps to a record");
  nlohmann::json expected = first->toDictionary();
  JSONValues::asReadBack(expected);
  fuzz::require(second->toDictionary() == expected, "the second load gives the same record");
  return 0;
}
