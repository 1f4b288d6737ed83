#include "App/Data/Preferences/TimerZeltoPreferences.h"

namespace zelto {

const std::vector<RecordField<TimerZeltoPreferences>>& TimerZeltoPreferences::fields() {
  using T = TimerZeltoPreferences;
  static const std::vector<RecordField<T>> table{
      fields::int64("interval", &T::interval, 1500),
      fields::object("frequentlyUsedIntervals", &T::frequentlyUsedIntervals,
                     nlohmann::json::object()),
  };
  return table;
}

}  // namespace zelto
