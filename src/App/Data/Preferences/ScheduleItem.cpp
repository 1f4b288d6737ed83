#include "App/Data/Preferences/ScheduleItem.h"

#include "Platform/UUID.h"

namespace zelto {

namespace {

nlohmann::json exportTime(const std::optional<CalendarComponents>& components) {
  CalendarComponents parts = components.value_or(CalendarComponents{});
  return {{"hour", parts.hour.value_or(CalendarComponents::kUndefined)},
          {"minute", parts.minute.value_or(CalendarComponents::kUndefined)}};
}

template <typename T>
nlohmann::json valueOrNull(const std::optional<T>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json();
}

}  // namespace

ScheduleItem::ScheduleItem() : objectURI("x-zelto-item://" + UUID::generateString()) {}

ScheduleItem::ScheduleItem(std::string objectURI) : objectURI(std::move(objectURI)) {}

void ScheduleItem::awakeFromInsert() {
  dirty = false;
  enabled = false;
  scheduleType = 0;
  sortIndex = 0;
  fromDateComponents = CalendarComponents{};
  toDateComponents = CalendarComponents{};
}

void ScheduleItem::awakeFromFetch() {
  if (!dirty) dirty = false;
  if (!enabled) enabled = false;
}

nlohmann::json ScheduleItem::exportToJSON() const {
  return {{"fromDate", exportTime(fromDateComponents)},
          {"toDate", exportTime(toDateComponents)},
          {"scheduleType", valueOrNull(scheduleType)},
          {"sortIndex", valueOrNull(sortIndex)},
          {"dirty", valueOrNull(dirty)},
          {"enabled", valueOrNull(enabled)},
          {"uniqueID", objectURI}};
}

}  // namespace zelto
