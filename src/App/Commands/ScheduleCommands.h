// ScheduleCommands: zeltoctl's schedules commands: list the weekly schedules of every profile,
// add one (times in local time, or in another zone, converted), remove one, switch one on or
// off. While blocking is locked, removing or switching off a schedule that keeps the running
// period going is refused; everything else goes through.
//
// Class operations only; the thread that owns the controller (the main thread).
#pragma once

#include <string>

#include "App/Commands/CommandOutcome.h"
#include "App/Controller/Zelto.h"

namespace zelto {

class ScheduleCommands {
 public:
  struct AddOptions {
    std::string days;  // "weekdays", "weekends", "daily" or a comma list of mon..sun
    std::string from;  // "HH:MM"
    std::string to;    // "HH:MM"
    std::string zone;  // the zone the times are meant in; empty for local time
  };
  enum class Change { kRemove, kEnable, kDisable };

  // Every schedule of every profile, in their order (sortIndex): an array of
  // {"id","days","from","to","enabled","sortIndex","inForce"}.
  static CommandOutcome list(Zelto& zelto);
  // Makes the records `options` ask for in the default profile and saves them.
  static CommandOutcome add(Zelto& zelto, const AddOptions& options);
  // Removes, or switches on or off, every schedule whose ID is `id` (exactly), and saves.
  static CommandOutcome change(Zelto& zelto, const std::string& id, Change what);
};

}  // namespace zelto
