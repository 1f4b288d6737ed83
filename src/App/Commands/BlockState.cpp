#include "App/Commands/BlockState.h"

#include <fmt/format.h>

#include <cmath>

#include "App/Data/Preferences/JSONValues.h"
#include "App/Data/Schedules/NSTimeIntervalFormatter.h"
#include "Platform/DateCalendar.h"

namespace zelto {

BlockState BlockState::observe(Zelto& zelto) {
  BlockState state;
  static_cast<BlockingPhase&>(state) = BlockingPhase::of(zelto);
  zelto.isZeltoing = state.running;
  return state;
}

std::string BlockState::whenText(Zelto& zelto, std::optional<Date> moment) {
  if (!moment) return "when stopped";
  const std::string zone = zelto.timeZone();
  const DateComponents at = DateCalendar::dateComponentsDate(*moment, zone);
  const DateComponents today = DateCalendar::dateComponentsDate(zelto.now(), zone);
  std::string day;
  if (at.year != today.year || at.month != today.month || at.day != today.day) {
    static const char* kWeekdays[] = {"", "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* kMonths[] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    day = fmt::format("on {} {} {} {} ",
                      at.weekday >= 1 && at.weekday <= 7 ? kWeekdays[at.weekday] : "?", at.day,
                      at.month >= 1 && at.month <= 12 ? kMonths[at.month] : "?", at.year);
  }
  const double left = std::ceil(moment->timeIntervalSinceDate(zelto.now()));
  return fmt::format("{}at {:02}:{:02} (in {})", day, at.hour, at.minute,
                     NSTimeIntervalFormatter::relativeTimeForInterval(left));
}

nlohmann::json BlockState::toJson() const {
  auto date = [](const std::optional<Date>& d) {
    return d ? nlohmann::json(JSONValues::formatDate(*d)) : nlohmann::json(nullptr);
  };
  nlohmann::json out = {{"mode", mode},
                        {"running", running},
                        {"locked", locked},
                        {"breaking", breaking},
                        {"scheduled", scheduled},
                        {"endsAt", date(endsAt)},
                        {"breakEndsAt", date(breakEndsAt)}};
  if (locked) out["lockReason"] = lockReason;
  return out;
}

}  // namespace zelto
