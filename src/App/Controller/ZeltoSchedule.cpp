// The generated schedule: when it is rebuilt, whether a schedule blocks at a date, when that
// scheduled blocking ends, and switching off the schedules behind the chain in force.
#include <algorithm>

#include "App/Controller/Zelto.h"
#include "App/Data/Schedules/ScheduleHelpers.h"
#include "App/Helpers/Functional/F.h"
#include "Platform/DateCalendar.h"
#include "Platform/Memory.h"
#include "Platform/NotificationCenter.h"

namespace zelto {

namespace {
constexpr int kScheduleDaysBack = -1;
constexpr int kScheduleDaysAhead = 8;

// Whether two lists of records (in their schedule order) make the same periods: the same
// records, in the same order, as far as the periods read them.
bool makeTheSamePeriods(const std::vector<ScheduleZeltoPreferences>& a,
                        const std::vector<ScheduleZeltoPreferences>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
    return x.isEnabled == y.isEnabled && x.scheduleType == y.scheduleType &&
           x.fromDate == y.fromDate && x.toDate == y.toDate && x.uniqueID == y.uniqueID;
  });
}

// A digest of what the periods read of the records (see above), taken in their stored order with
// the sort indexes that fix their schedule order: equal digests, the same periods. Each check
// asks, so it copies nothing: a record may hold thousands of schedules.
uint64_t periodInputsDigest(const ZeltoPreferences* record) {
  uint64_t digest = 0x9e3779b97f4a7c15ULL;
  auto mix = [&digest](uint64_t value) {
    digest ^= value + 0x9e3779b97f4a7c15ULL + (digest << 12) + (digest >> 4);
    digest *= 0xff51afd7ed558ccdULL;
  };
  auto mixTime = [&mix](const CalendarComponents& time) {
    for (const auto& part :
         {time.year, time.month, time.day, time.hour, time.minute, time.second}) {
      mix(part.has_value());
      mix(static_cast<uint64_t>(part.value_or(0)));
    }
  };
  if (record == nullptr) return digest;
  uint64_t count = 0;
  for (const auto& profile : record->profiles) {
    for (const auto& schedule : profile.schedules) {
      mix(schedule.sortIndex);
      mix(schedule.isEnabled);
      mix(static_cast<uint64_t>(schedule.scheduleType));
      mixTime(schedule.fromDate);
      mixTime(schedule.toDate);
      mix(std::hash<std::string>{}(schedule.uniqueID));
      ++count;
    }
  }
  mix(count);
  return digest;
}
}  // namespace

std::string Zelto::timeZone() {
  const auto& zone = current().currentTimeZone;
  return zone ? *zone : DateCalendar::systemTimeZoneName();
}

bool Zelto::scheduleNeedsUpdate(Date date) {
  if (!schedule) return true;
  if (schedule->items().size() < 2) return true;
  if (schedule->timeZone() != timeZone()) return true;
  auto first = schedule->getFromDate();
  auto last = schedule->getToDate();
  if (!first || !last || !date.isGreaterDate(*first) || !date.isLessDate(*last)) return true;
  // The records changed since it was built (a reload of the file, an edit): a schedule switched
  // off, removed or added must count at once in a program that runs for days, not when the
  // window next moves.
  return !scheduleSource_ || scheduleSource_->digest != periodInputsDigest(prefs());
}

void Zelto::updateScheduleWithDate(Date date) {
  const std::string zone = timeZone();
  std::vector<ScheduleZeltoPreferences> records;
  if (ZeltoPreferences* record = prefs()) records = record->getAllSortedSchedules();
  // The periods depend on nothing else: the same inputs would make the same schedule again.
  if (schedule && scheduleSource_ && scheduleSource_->date == date &&
      scheduleSource_->zone == zone && makeTheSamePeriods(scheduleSource_->records, records)) {
    return;
  }
  Date start = DateCalendar::dateByAddingDays(date, kScheduleDaysBack, zone);
  Date end = DateCalendar::dateByAddingDays(date, kScheduleDaysAhead, zone);
  const size_t before = scheduleSource_ ? scheduleSource_->records.size() : 0;
  schedule = Schedule(ScheduleHelpers::generatedScheduleForItems(records, start, end, zone), zone);
  scheduleSource_ = ScheduleSource{date, zone, std::move(records), periodInputsDigest(prefs())};
  // The periods of a long record replaced by a shorter one leave megabytes free amid the heap,
  // after the reload itself has trimmed it: handed back to the system too.
  constexpr size_t kReleaseAfterRecords = 256;
  if (before >= kReleaseAfterRecords && before > scheduleSource_->records.size()) {
    Memory::releaseFree();
  }
}

void Zelto::updateSchedule() { updateScheduleWithDate(now()); }

bool Zelto::isScheduleBlockedWithDate(Date date) {
  if (scheduleNeedsUpdate(date)) updateScheduleWithDate(date);
  activeScheduleChain = Schedule(schedule->getScheduleItemChainFromDate(date), timeZone());
  return activeScheduleChain->getToDate().has_value();
}

bool Zelto::isScheduleBlocked() { return isScheduleBlockedWithDate(now()); }

std::optional<NormalizedScheduleItem> Zelto::getActiveEndSchedule() {
  if (!activeScheduleChain || activeScheduleChain->items().empty()) return std::nullopt;
  return activeScheduleChain->items().back();
}

std::optional<NormalizedScheduleItem> Zelto::getActiveEndScheduleForDate(Date date) {
  if (!schedule) return std::nullopt;
  return schedule->getLastActiveScheduleItemFromDate(date);
}

std::optional<Date> Zelto::unblockScheduleDateWithDate(Date date) {
  if (!isZeltoing) return std::nullopt;
  if (scheduleNeedsUpdate(date)) updateScheduleWithDate(date);
  if (schedule->items().empty()) return std::nullopt;
  auto end = getActiveEndScheduleForDate(date);
  if (!end) return std::nullopt;
  return end->toDate();
}

std::string Zelto::unblockScheduleTimeWithDate(Date date) {
  return ScheduleHelpers::unblockScheduleTimeWithDate(date, unblockScheduleDateWithDate(date),
                                                      timeZone());
}

bool Zelto::disableActiveScheduleChain() {
  if (!activeScheduleChain || activeScheduleChain->items().empty()) return false;
  std::vector<std::string> ids =
      F::mapArray(activeScheduleChain->items(),
                  [](const NormalizedScheduleItem& item) { return item.uniqueID(); });
  bool changed = false;
  if (ZeltoPreferences* record = prefs()) {
    // The records live in the profiles; switch off each one behind the chain in place.
    for (auto& profile : record->profiles) {
      for (auto& scheduleRecord : profile.schedules) {
        if (std::find(ids.begin(), ids.end(), scheduleRecord.uniqueID) != ids.end()) {
          scheduleRecord.isEnabled = false;
          changed = true;
        }
      }
    }
    if (changed) save().ignoreError();
  }
  updateSchedule();
  NotificationCenter::defaultCenter().post("ShouldUpdateScheduleItems", this);
  return changed;
}

}  // namespace zelto
