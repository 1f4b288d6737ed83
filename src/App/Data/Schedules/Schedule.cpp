#include "App/Data/Schedules/Schedule.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "Platform/Clock.h"
#include "Platform/Env.h"

namespace zelto {

namespace {

// A period's end for ordering: one that is not a number ends before any other.
double endKey(const NormalizedScheduleItem& item) {
  double end = item.toDate().secondsSince1970();
  return std::isnan(end) ? -std::numeric_limits<double>::infinity() : end;
}

}  // namespace

Schedule::Schedule(std::vector<NormalizedScheduleItem> items, std::string timeZone)
    : items_(std::move(items)), timeZone_(std::move(timeZone)) {
  byStart_.reserve(items_.size());
  for (size_t place = 0; place < items_.size(); ++place) {
    if (!std::isnan(items_[place].fromDate().secondsSince1970())) byStart_.push_back(place);
  }
  // Stable: equal starts keep the order of the list.
  std::stable_sort(byStart_.begin(), byStart_.end(), [this](size_t a, size_t b) {
    return items_[a].fromDate().isLessDate(items_[b].fromDate());
  });
  endsLast_.reserve(byStart_.size());
  for (size_t place : byStart_) {
    if (endsLast_.empty()) {
      endsLast_.push_back(place);
      continue;
    }
    size_t best = endsLast_.back();
    double end = endKey(items_[place]);
    double bestEnd = endKey(items_[best]);
    endsLast_.push_back(end > bestEnd || (end == bestEnd && place > best) ? place : best);
  }
}

std::optional<Date> Schedule::getFromDate() const {
  if (items_.empty()) return std::nullopt;
  return items_.front().fromDate();
}

std::optional<Date> Schedule::getToDate() const {
  if (items_.empty()) return std::nullopt;
  return items_.back().toDate();
}

size_t Schedule::startedBy(Date date) const {
  auto first = std::upper_bound(
      byStart_.begin(), byStart_.end(), date,
      [this](Date moment, size_t place) { return moment.isLessDate(items_[place].fromDate()); });
  return static_cast<size_t>(first - byStart_.begin());
}

const NormalizedScheduleItem* Schedule::activeAt(Date date) const {
  // Of the periods started by then, the one that ends last; in force when it ends after `date`.
  size_t started = startedBy(date);
  if (started == 0) return nullptr;
  const NormalizedScheduleItem& best = items_[endsLast_[started - 1]];
  return date.isLessDate(best.toDate()) ? &best : nullptr;
}

std::optional<NormalizedScheduleItem> Schedule::getNextActiveScheduleItemForDate(Date date) const {
  // In start order, the first period in force, else the first to come. The first one in force
  // is the first whose prefix ends after `date`, when it has started by then.
  size_t started = startedBy(date);
  auto firstEndingLater =
      std::partition_point(endsLast_.begin(), endsLast_.end(),
                           [&](size_t place) { return !date.isLessDate(items_[place].toDate()); });
  size_t position = static_cast<size_t>(firstEndingLater - endsLast_.begin());
  if (position < started) return items_[byStart_[position]];
  if (started < byStart_.size()) return items_[byStart_[started]];
  return std::nullopt;
}

std::optional<NormalizedScheduleItem> Schedule::getNextActiveScheduleItem() const {
  return getNextActiveScheduleItemForDate(Env::clock().now());
}

std::optional<NormalizedScheduleItem> Schedule::getActiveScheduleItemForDate(Date date) const {
  const NormalizedScheduleItem* item = activeAt(date);
  if (item == nullptr) return std::nullopt;
  return *item;
}

std::vector<NormalizedScheduleItem> Schedule::getScheduleItemChainFromDate(Date date) const {
  // Each step moves strictly later (a period in force ends after the moment asked), so no
  // period is taken twice and the walk ends.
  std::vector<NormalizedScheduleItem> chain;
  for (const NormalizedScheduleItem* item = activeAt(date); item != nullptr;
       item = activeAt(item->toDate())) {
    chain.push_back(*item);
  }
  return chain;
}

std::optional<NormalizedScheduleItem> Schedule::getLastActiveScheduleItemFromDate(Date date) const {
  const NormalizedScheduleItem* last = nullptr;
  for (const NormalizedScheduleItem* item = activeAt(date); item != nullptr;
       item = activeAt(item->toDate())) {
    last = item;
  }
  if (last == nullptr) return std::nullopt;
  return *last;
}

}  // namespace zelto
