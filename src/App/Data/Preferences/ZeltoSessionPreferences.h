// ZeltoSessionPreferences: one past blocking period or break, as kept in the main record's
// session list.
//
// A plain record (see ZeltoBaseJSONModel) with no defaults: `date`, `interval` and `zeltoType`
// are all required, so a stored session lacking one fails construction (and with it the record
// that holds it). The fingerprint is computed, never stored. Any thread; whoever shares one
// serialises its use.
#pragma once

#include <cstdint>
#include <string>

#include "App/Data/Preferences/ZeltoBaseJSONModel.h"
#include "Platform/Date.h"

namespace zelto {

class ZeltoSessionPreferences : public JSONRecord<ZeltoSessionPreferences> {
 public:
  // Every field starts zero; sessions have no defaults.
  Date date;                    // the moment of the session
  nlohmann::json interval = 0;  // its length in seconds, a number kept as written (0, not null)
  int32_t zeltoType{};          // blocking-mode number; 4 marks a break

  // A session holding these three values. An interval that is not a finite number is stored as
  // 0, so that the session can always be written and read back.
  static ZeltoSessionPreferences initWithDate(Date date, nlohmann::json interval, int32_t type);

  // The text the fingerprint digests: type, the date as "yyyy-MM-dd HH:mm:ss +0000" (UTC) and
  // the interval in single precision with four decimals, joined by hyphens.
  std::string fingerprintText() const;
  // The MD5 digest of fingerprintText(), as 32 lower-case hexadecimal digits.
  std::string getFingerprint() const;
  // Seconds from `date` to now: positive for a session in the past.
  double getTimeIntervalSinceSession() const;

  static const std::vector<RecordField<ZeltoSessionPreferences>>& fields();
};

}  // namespace zelto
