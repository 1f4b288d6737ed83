// Schedule: the blocking periods made from schedule records, in the order they were given, with
// the time zone they were computed in, and the questions asked of them in time order.
//
// Immutable once made; any thread may read it. The list is not re-sorted: `getFromDate` and
// `getToDate` report the first and the last period of the list as given, and where periods tie
// the answers below depend on their places in the list, as stated. The questions in time order
// use an index of the periods by start, made with the schedule, so that each costs a binary
// search (and the chain one per link) rather than a walk through every period. A period with a
// start that is not a number is never in force nor to come.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "App/Data/Schedules/NormalizedScheduleItem.h"
#include "Platform/Date.h"

namespace zelto {

class Schedule {
 public:
  Schedule(std::vector<NormalizedScheduleItem> items, std::string timeZone);

  const std::vector<NormalizedScheduleItem>& items() const { return items_; }
  const std::string& timeZone() const { return timeZone_; }

  // The start of the first period and the end of the last one; nothing for an empty list.
  std::optional<Date> getFromDate() const;
  std::optional<Date> getToDate() const;

  // Of the periods in force at `date` or still to come, the one that starts earliest (the first
  // in the list among equal starts); nothing when there is none. So a period in force always
  // wins over one to come, and the answer does not depend on the order of the records.
  std::optional<NormalizedScheduleItem> getNextActiveScheduleItemForDate(Date date) const;
  // The same for the current moment (Env::clock()).
  std::optional<NormalizedScheduleItem> getNextActiveScheduleItem() const;

  // Of the periods containing `date`, the one that ends last; among equal ends the one latest
  // in the list. Nothing when none contains it.
  std::optional<NormalizedScheduleItem> getActiveScheduleItemForDate(Date date) const;
  // The unbroken run from `date`: the period in force at `date`, then the one in force at its
  // end, and so on. Touching and overlapping periods chain; any gap ends the run.
  std::vector<NormalizedScheduleItem> getScheduleItemChainFromDate(Date date) const;
  // The last period of that run, whose end is the end of the blocking; nothing when the run is
  // empty.
  std::optional<NormalizedScheduleItem> getLastActiveScheduleItemFromDate(Date date) const;

 private:
  // The period `getActiveScheduleItemForDate` answers with, or nullptr.
  const NormalizedScheduleItem* activeAt(Date date) const;
  // How many indexed periods start at or before `date`.
  size_t startedBy(Date date) const;

  std::vector<NormalizedScheduleItem> items_;
  std::string timeZone_;
  // Places in `items_` ordered by start, then by place.
  std::vector<size_t> byStart_;
  // For each prefix of `byStart_` (up to and including the same position), the place of the
  // period that ends last, the later in `items_` among equal ends; an end that is not a number
  // counts as earliest of all.
  std::vector<size_t> endsLast_;
};

}  // namespace zelto
