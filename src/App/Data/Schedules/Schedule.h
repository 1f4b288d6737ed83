// Schedule: the blocking periods made from schedule records, in the order they were given, with
// the time zone they were computed in.
//
// Immutable once made; any thread may read it. The list is not re-sorted: `getFromDate` and
// `getToDate` report the first and the last period of the list as given.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "App/Data/Schedules/NormalizedScheduleItem.h"
#include "Platform/Date.h"

namespace zelto {

class Schedule {
 public:
  Schedule(std::vector<NormalizedScheduleItem> items, std::string timeZone)
      : items_(std::move(items)), timeZone_(std::move(timeZone)) {}

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

 private:
  std::vector<NormalizedScheduleItem> items_;
  std::string timeZone_;
};

}  // namespace zelto
