#include "App/Commands/StatusReport.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>

#include "App/Commands/ScheduleZoneShift.h"
#include "App/Controller/BlockingPhase.h"
#include "App/Data/Preferences/JSONValues.h"
#include "App/Data/Schedules/Schedule.h"
#include "App/Data/Schedules/ScheduleHelpers.h"
#include "Platform/DateCalendar.h"

namespace zelto {

namespace {

const char* weekdayName(const DateComponents& c) {
  static const char* kWeekdays[] = {"", "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  return c.weekday >= 1 && c.weekday <= 7 ? kWeekdays[c.weekday] : "?";
}

// "Wed 2026-12-09 08:00"
std::string localText(Date date, const std::string& zone) {
  DateComponents c = DateCalendar::dateComponentsDate(date, zone);
  return fmt::format("{} {:04}-{:02}-{:02} {:02}:{:02}", weekdayName(c), c.year, c.month, c.day,
                     c.hour, c.minute);
}

// "Wed 12-09", the label of a day's row in the grid.
std::string dayLabel(Date date, const std::string& zone) {
  DateComponents c = DateCalendar::dateComponentsDate(date, zone);
  return fmt::format("{} {:02}-{:02}", weekdayName(c), c.month, c.day);
}

}  // namespace

nlohmann::json StatusReport::status(Zelto& zelto, Date now) {
  nlohmann::json out;
  // The answer the agent and the application give too.
  const BlockingPhase phase = BlockingPhase::of(zelto);
  out["phase"] = BlockingPhase::kindName(phase.kind);
  out["locked"] = phase.locked;
  if (phase.locked) out["lockReason"] = phase.lockReason;
  out["mode"] = phase.mode;
  out["shouldZelto"] = zelto.shouldZelto();
  out["timeUntilUnblock"] = zelto.getTimeIntervalUntilUnblock();
  out["timeUntilBlock"] = zelto.getTimeIntervalUntilBlock();
  out["countDown"] = zelto.getCountDownInterval();
  out["isScheduleBlocked"] = zelto.isScheduleBlockedWithDate(now);
  auto end = zelto.getActiveEndSchedule();
  out["scheduleEnd"] = end ? nlohmann::json(JSONValues::formatDate(end->toDate())) : nullptr;
  // How the end reads for the user while the schedule blocks (the main application shows it).
  out["scheduleEndText"] = ScheduleHelpers::unblockScheduleTimeWithDate(
      now, end ? std::optional<Date>(end->toDate()) : std::nullopt, zelto.timeZone());
  out["canHardcoreUnzelto"] = !phase.locked;
  out["shouldUnzelto"] = zelto.shouldUnzelto();
  // The watchdog launches the application in every phase but off.
  out["watchdog"] = phase.kind != BlockingPhase::Kind::kOff ? "launch" : "wait";
  return out;
}

std::string StatusReport::statusText(const nlohmann::json& s) {
  auto seconds = [](double value) {
    return value < 0 ? std::string("none") : fmt::format("{:.0f} s", value);
  };
  std::string text;
  text += fmt::format("Phase:                {}", s["phase"].get<std::string>());
  if (s["locked"].get<bool>()) {
    text += fmt::format(" (locked: {})", s["lockReason"].get<std::string>());
  }
  text += "\n";
  text += fmt::format("Mode:                 {}\n", s["mode"].get<std::string>());
  text += fmt::format("Blocking should be on: {}\n", s["shouldZelto"].get<bool>() ? "yes" : "no");
  text += fmt::format("Until unblock:        {}\n", seconds(s["timeUntilUnblock"].get<double>()));
  text += fmt::format("Next scheduled block: {}\n", seconds(s["timeUntilBlock"].get<double>()));
  text += fmt::format("Countdown:            {}\n", seconds(s["countDown"].get<double>()));
  text +=
      fmt::format("Schedule blocks now:  {}", s["isScheduleBlocked"].get<bool>() ? "yes" : "no");
  if (s["scheduleEnd"].is_string()) {
    text += fmt::format(" (until {}, shown as \"{}\")", s["scheduleEnd"].get<std::string>(),
                        s["scheduleEndText"].get<std::string>());
  }
  text += "\n";
  text += fmt::format("May end early (hardcore): {}\n",
                      s["canHardcoreUnzelto"].get<bool>() ? "yes" : "no");
  text += fmt::format("Would end on its own: {}\n", s["shouldUnzelto"].get<bool>() ? "yes" : "no");
  text += fmt::format("Watchdog:             {}\n",
                      s["watchdog"] == "launch" ? "would launch the application" : "waits");
  return text;
}

namespace {

// The periods generated from the day before `now` to `days` days ahead (all), and of them those
// not over at `now` that start before the end (shown), in start order.
struct SchedulePeriods {
  std::vector<NormalizedScheduleItem> all;
  std::vector<NormalizedScheduleItem> shown;
};

SchedulePeriods periodsAhead(Zelto& zelto, Date now, int days, const std::string& zone) {
  Date until = DateCalendar::dateByAddingDays(now, days, zone);
  std::vector<ScheduleZeltoPreferences> records;
  if (ZeltoPreferences* prefs = zelto.prefs()) records = prefs->getAllSortedSchedules();
  // From the start of today, so that a period under way is shown whole.
  Date from = DateCalendar::startOfDay(now, zone);
  SchedulePeriods out;
  out.all = ScheduleHelpers::generatedScheduleForItems(
      records, DateCalendar::dateByAddingDays(from, -1, zone), until, zone);
  for (const auto& p : out.all) {
    if (p.toDate().isGreaterDate(now) && p.fromDate().isLessDate(until)) out.shown.push_back(p);
  }
  std::stable_sort(out.shown.begin(), out.shown.end(),
                   [](const auto& a, const auto& b) { return a.fromDate() < b.fromDate(); });
  return out;
}

// "2026-12-09T09:00:00+01:00"
std::string localIso(Date date, const std::string& zone) {
  DateComponents c = DateCalendar::dateComponentsDate(date, zone);
  const int offset = ScheduleZoneShift::offsetAt(date, zone);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}{}{:02}:{:02}", c.year, c.month, c.day,
                     c.hour, c.minute, c.second, offset < 0 ? '-' : '+', std::abs(offset) / 60,
                     std::abs(offset) % 60);
}

}  // namespace

nlohmann::json StatusReport::scheduleJson(Zelto& zelto, Date now, int days) {
  const std::string zone = zelto.timeZone();
  days = std::clamp(days, 1, 366);
  nlohmann::json periods = nlohmann::json::array();
  for (const auto& p : periodsAhead(zelto, now, days, zone).shown) {
    periods.push_back(
        {{"start", localIso(p.fromDate(), zone)}, {"end", localIso(p.toDate(), zone)}});
  }
  return {{"from", localIso(now, zone)}, {"days", days}, {"periods", std::move(periods)}};
}

std::string StatusReport::scheduleText(Zelto& zelto, Date now, int days) {
  const std::string zone = zelto.timeZone();
  days = std::clamp(days, 1, 366);
  Date from = DateCalendar::startOfDay(now, zone);
  auto [periods, shown] = periodsAhead(zelto, now, days, zone);

  std::string text = fmt::format("Scheduled blocking from {} for {} day(s), times in {}:\n",
                                 localText(now, zone), days, zone);
  if (shown.empty()) text += "  (none)\n";
  const Schedule shownSchedule(shown, zone);
  for (size_t i = 0; i < shown.size(); ++i) {
    // A period chains into the next when another one is in force at its end (never itself).
    bool chains = shownSchedule.getActiveScheduleItemForDate(shown[i].toDate()).has_value();
    text += fmt::format("  {} -> {}  {}{}\n", localText(shown[i].fromDate(), zone),
                        localText(shown[i].toDate(), zone), shown[i].uniqueID(),
                        chains ? "  (continues into the next)" : "");
  }

  text += "\n            00    03    06    09    12    15    18    21\n";
  const Schedule all(std::move(periods), zone);
  for (int day = 0; day < days; ++day) {
    Date dayStart = DateCalendar::dateByAddingDays(from, day, zone);
    std::string row = fmt::format("{:<12}", dayLabel(dayStart, zone));
    for (int hour = 0; hour < 24; ++hour) {
      // Each hour is two cells of half an hour: '#' when blocking is scheduled then.
      for (int half = 0; half < 2; ++half) {
        auto c = DateCalendar::dateComponentsDate(dayStart, zone);
        auto moment =
            DateCalendar::dateFromComponents(c.year, c.month, c.day, hour, half * 30, 0, zone);
        bool blocked = moment && all.getActiveScheduleItemForDate(*moment).has_value();
        row += blocked ? '#' : '.';
      }
    }
    text += row + "\n";
  }
  return text;
}

}  // namespace zelto
