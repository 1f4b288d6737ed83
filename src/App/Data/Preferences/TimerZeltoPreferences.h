// TimerZeltoPreferences: a profile's countdown settings.
//
// A plain record (see ZeltoBaseJSONModel): `{}` is a valid timer of all defaults. Any thread;
// whoever shares one serialises its use.
#pragma once

#include "App/Data/Preferences/ZeltoBaseJSONModel.h"

namespace zelto {

class TimerZeltoPreferences : public JSONRecord<TimerZeltoPreferences> {
 public:
  // Both start empty; the defaults are in the field table only.
  int64_t interval{};  // countdown length, seconds
  // The main application's notes on often-used countdown lengths, carried unchanged.
  nlohmann::json frequentlyUsedIntervals = nlohmann::json::object();

  static const std::vector<RecordField<TimerZeltoPreferences>>& fields();
};

}  // namespace zelto
