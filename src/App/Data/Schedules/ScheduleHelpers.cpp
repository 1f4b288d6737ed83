#include "App/Data/Schedules/ScheduleHelpers.h"

#include "App/Data/Preferences/ZeltoPreferences.h"
#include "App/Data/Schedules/NSDateComponentsHelpers.h"
#include "App/Data/Schedules/Schedule.h"
#include "Platform/DateCalendar.h"
#include "Platform/LocaleDateFormatter.h"
#include "Platform/Log.h"
#include "Platform/UUID.h"
#include "Platform/UserDefaults.h"

namespace zelto {
namespace {

constexpr int32_t kWeekdays = 8;
constexpr int32_t kWeekends = 9;
constexpr int32_t kEveryDay = 10;
constexpr double kSecondsPerDay = 86400;
constexpr double kSecondsPerWeek = 7 * kSecondsPerDay;

ScheduleZeltoPreferences defaultSchedule(uint64_t sortIndex, int32_t type) {
  ScheduleZeltoPreferences schedule;
  schedule.isEnabled = false;
  schedule.sortIndex = sortIndex;
  schedule.scheduleType = type;
  schedule.fromDate = NSDateComponentsHelpers::initWithHour(9);
  schedule.toDate = NSDateComponentsHelpers::initWithHour(17);
  // Each gets its own identity now: an empty one would be stored as it is, and the two
  // schedules could not be told apart when schedules are switched off by identifier.
  schedule.uniqueID = UUID::generateString();
  return schedule;
}

}  // namespace

bool ScheduleHelpers::scheduleTypesMatch(int32_t type, int32_t day) {
  if (!scheduleTypeIsDayOfWeek(day)) return false;
  if (type == kEveryDay) return true;
  if (type == kWeekends) return scheduleTypeIsWeekend(day);
  if (type == kWeekdays) return scheduleTypeIsWeekday(day);
  return type == day;
}

bool ScheduleHelpers::scheduleTypeIsWeekend(int64_t value) { return value == 6 || value == 7; }

bool ScheduleHelpers::scheduleTypeIsWeekday(int64_t value) { return value >= 1 && value < 6; }

bool ScheduleHelpers::scheduleTypeIsDayOfWeek(int64_t value) { return value >= 1 && value < 8; }

std::string ScheduleHelpers::dayOfWeekForDate(Date date, const std::string& timeZone) {
  return LocaleDateFormatter::weekdayName(date, timeZone);
}

int32_t ScheduleHelpers::scheduleTypeForDate(Date date, const std::string& timeZone) {
  // The calendar counts Sunday 1 to Saturday 7; days here run Monday 1 to Sunday 7.
  int weekday = DateCalendar::dateComponentsDate(date, timeZone).weekday;
  if (weekday < 1 || weekday > 7) return 0;
  return weekday == 1 ? 7 : weekday - 1;
}

int32_t ScheduleHelpers::getAbsoluteScheduleTypeForScheduleType(int32_t type) {
  if (type == kWeekdays || type == kEveryDay) return 1;
  if (type == kWeekends) return 6;
  return type;
}

std::optional<NormalizedScheduleItem> ScheduleHelpers::getActiveScheduleItemFrom(
    const std::vector<NormalizedScheduleItem>& items, Date date) {
  return Schedule(items, "").getActiveScheduleItemForDate(date);
}

std::vector<NormalizedScheduleItem> ScheduleHelpers::getScheduleItemChainFrom(
    const std::vector<NormalizedScheduleItem>& items, Date date) {
  return Schedule(items, "").getScheduleItemChainFromDate(date);
}

std::optional<NormalizedScheduleItem> ScheduleHelpers::getLastActiveScheduleItemFrom(
    const std::vector<NormalizedScheduleItem>& items, Date date) {
  return Schedule(items, "").getLastActiveScheduleItemFromDate(date);
}

std::vector<NormalizedScheduleItem> ScheduleHelpers::generatedScheduleForItems(
    const std::vector<ScheduleZeltoPreferences>& records, Date start, Date end,
    const std::string& timeZone) {
  std::vector<NormalizedScheduleItem> all;
  for (const auto& record : records) {
    std::vector<NormalizedScheduleItem> periods =
        record.normalizeWithStartDate(start, end, timeZone);
    all.insert(all.end(), periods.begin(), periods.end());
  }
  return all;
}

std::string ScheduleHelpers::unblockScheduleTimeWithDate(Date now, std::optional<Date> end,
                                                         const std::string& timeZone) {
  if (!end) return "";
  bool twentyFourHours = isSystemClockFormat24Hr();
  double interval = end->timeIntervalSinceDate(now);
  if (interval >= kSecondsPerWeek) return "∞";
  const char* skeleton = interval >= kSecondsPerDay ? (twentyFourHours ? "EEE H:ma" : "EEE h:m a")
                                                    : (twentyFourHours ? "H:ma" : "h:m a");
  return LocaleDateFormatter::formatWithSkeleton(*end, skeleton, timeZone);
}

bool ScheduleHelpers::isSystemClockFormat24Hr() {
  nlohmann::json clock =
      UserDefaults::standard().persistentDomainForName("com.apple.menuextra.clock");
  auto format = clock.find("DateFormat");
  if (format == clock.end() || !format->is_string()) return false;
  return format->get_ref<const std::string&>().find("H:mm") != std::string::npos;
}

Status ScheduleHelpers::createDefaultSchedule() {
  ZeltoPreferences* preferences = ZeltoPreferences::standardPreferences();
  if (preferences == nullptr) {
    log::error("Cannot create the default schedules: no preferences");
    return Status::failure("Cannot create the default schedules: no preferences");
  }
  ProfileZeltoPreferences* profile = preferences->defaultProfile();
  if (profile == nullptr) {
    log::error("Cannot create the default schedules: no default profile");
    return Status::failure("Cannot create the default schedules: no default profile");
  }
  profile->schedules.push_back(defaultSchedule(0, kWeekdays));
  profile->schedules.push_back(defaultSchedule(1, kWeekends));
  // The save logs its own failure; the schedules stay in the record either way.
  return preferences->save();
}

}  // namespace zelto
