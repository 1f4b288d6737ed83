// ScheduleZoneShift: a schedule's times of day given in another zone, moved into the zone the
// controller works in (its local zone).
//
// A record holds local times of day only, so the times move by the difference between the two
// zones' UTC offsets at the schedule's next occurrence. The conversion holds for the offsets in
// force then: zones that change their clocks on different dates drift apart by an hour for a
// few weeks a year, and the record then blocks an hour early or late in the other zone.
//
// A plain value and class operations; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "Platform/Date.h"
#include "Platform/Status.h"

namespace zelto {

struct ScheduleZoneShift {
  int fromMinutes = 0;  // the local times of day to store, minutes since midnight
  int toMinutes = 0;
  int zoneOffset = 0;  // the UTC offsets, in minutes, at `at`
  int localOffset = 0;
  Date at;  // the start of the next occurrence (in `zone`) the offsets are read at

  // Moves `from`-`to` (minutes since midnight in `zone`, the record's forms: from == to the
  // whole day, from > to overnight) of schedule type `type` into `localZone`, at the next
  // occurrence after `now`. Equal offsets keep the times as given. Fails, the reason for people,
  // when a boundary would move to another day, which one record can't say for its days: a start
  // or end crossing midnight, a whole day, or an overnight schedule on other than every day
  // (its midnight boundaries move off midnight; every day they join and don't matter). An end at
  // 00:00 after a later start is read as the end of the day.
  static Result<ScheduleZoneShift> shift(int32_t type, int from, int to, const std::string& zone,
                                         const std::string& localZone, Date now);
  // The UTC offset of `zone` at `date`, in minutes.
  static int offsetAt(Date date, const std::string& zone);
  // "UTC+01:00", "UTC-05:00".
  static std::string offsetText(int minutes);
};

}  // namespace zelto
