// NormalizedScheduleItem: one concrete blocking period made from a schedule record: from
// `fromDate` (inclusive) to `toDate` (exclusive), carrying the record's `uniqueID`.
//
// An immutable value: copy it freely, from any thread.
#pragma once

#include <string>
#include <utility>

#include "Platform/Date.h"

namespace zelto {

class NormalizedScheduleItem {
 public:
  // The exported form: the three values, the dates as dates (not text).
  struct Exported {
    Date fromDate;
    Date toDate;
    std::string uniqueID;

    bool operator==(const Exported&) const = default;
  };

  NormalizedScheduleItem(Date fromDate, Date toDate, std::string uniqueID)
      : fromDate_(fromDate), toDate_(toDate), uniqueID_(std::move(uniqueID)) {}

  Date fromDate() const { return fromDate_; }
  Date toDate() const { return toDate_; }
  const std::string& uniqueID() const { return uniqueID_; }

  // Whether `date` lies in the period: at or after its start and before its end.
  bool contains(Date date) const {
    return fromDate_.isLessOrEqualToDate(date) && date.isLessDate(toDate_);
  }

  Exported exportToJSON() const { return {fromDate_, toDate_, uniqueID_}; }

  bool operator==(const NormalizedScheduleItem&) const = default;

 private:
  Date fromDate_;
  Date toDate_;
  std::string uniqueID_;
};

}  // namespace zelto
