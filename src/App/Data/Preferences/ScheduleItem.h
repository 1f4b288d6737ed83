// ScheduleItem: a schedule as an item of the older object store, kept for the shared data
// model, with its export.
//
// There is no object store here: the item is a plain value whose attributes may each be
// absent, as a store attribute may be. `objectURI` stands for the store's object identifier
// and is set by whoever creates the item. Nothing in the agent makes or reads these items.
//
// Any thread; whoever shares one serialises its use.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "App/Data/Preferences/CalendarComponents.h"

namespace zelto {

class ScheduleItem {
 public:
  // An item identified as "x-zelto-item://<new UUID>".
  ScheduleItem();
  explicit ScheduleItem(std::string objectURI);

  std::optional<int32_t> scheduleType;  // as a schedule record's `scheduleType`
  std::optional<CalendarComponents> fromDateComponents;
  std::optional<CalendarComponents> toDateComponents;
  std::optional<uint64_t> sortIndex;
  std::optional<bool> dirty;
  std::optional<bool> enabled;
  std::string objectURI;

  // A new item: not dirty, off, type 0, position 0, both times with every part unset.
  void awakeFromInsert();
  // A fetched item: `dirty` and `enabled` become false where absent; the rest stays as fetched.
  void awakeFromFetch();
  // {"fromDate": {"hour", "minute"}, "toDate": {...}, "scheduleType", "sortIndex", "dirty",
  //  "enabled", "uniqueID": objectURI}. Hour and minute are always written, an unset part (or
  // absent components) as CalendarComponents::kUndefined; an absent attribute is null.
  nlohmann::json exportToJSON() const;
};

}  // namespace zelto
