#include "App/Data/Preferences/TimerZeltoPreferences.h"

namespace zelto {

const std::vector<RecordField<TimerZeltoPreferences>>& TimerZeltoPreferences::fields() {
  using T = TimerZeltoPreferences;
  static const std::vector<RecordField<T>> table{
      fields::int64("interval", &T::interval),
      fields::object("frequentlyUsedIntervals", &T::frequentlyUsedIntervals),
  };
  return table;
}

nlohmann::json TimerZeltoPreferences::defaultValues() {
  return {{"interval", 1500}, {"frequentlyUsedIntervals", nlohmann::json::object()}};
}

}  // namespace zelto
