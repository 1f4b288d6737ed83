#include "App/Data/Schedules/Schedule.h"

#include "Platform/Clock.h"
#include "Platform/Env.h"

namespace zelto {

std::optional<Date> Schedule::getFromDate() const {
  if (items_.empty()) return std::nullopt;
  return items_.front().fromDate();
}

std::optional<Date> Schedule::getToDate() const {
  if (items_.empty()) return std::nullopt;
  return items_.back().toDate();
}

std::optional<NormalizedScheduleItem> Schedule::getNextActiveScheduleItemForDate(Date date) const {
  const NormalizedScheduleItem* best = nullptr;
  for (const auto& item : items_) {
    bool inForce = item.contains(date);
    bool toCome = item.fromDate().isGreaterDate(date);
    if (!inForce && !toCome) continue;
    if (best == nullptr || item.fromDate().isLessDate(best->fromDate())) best = &item;
  }
  if (best == nullptr) return std::nullopt;
  return *best;
}

std::optional<NormalizedScheduleItem> Schedule::getNextActiveScheduleItem() const {
  return getNextActiveScheduleItemForDate(Env::clock().now());
}

}  // namespace zelto
