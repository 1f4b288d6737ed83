// Fuzz target: a schedule record expanded into blocking periods. The first line is the window
// and the zone, "START END ZONE" (seconds since 1970, the window cut to 31 days after START;
// the zone any text); the rest is the record as JSON.
//
// The periods must be non-empty, in time order and no longer than a day and its clock change,
// and the indexed answers of a Schedule must agree with the same questions asked of the plain
// list.
#include "App/Data/Schedules/Schedule.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "App/Data/Preferences/ScheduleZeltoPreferences.h"
#include "App/Data/Schedules/ScheduleHelpers.h"
#include "Platform/JsonText.h"
#include "fuzz/FuzzInput.h"

namespace {

using zelto::Date;
using zelto::NormalizedScheduleItem;

bool same(const std::optional<NormalizedScheduleItem>& a,
          const std::optional<NormalizedScheduleItem>& b) {
  if (!a || !b) return !a && !b;
  return a->fromDate() == b->fromDate() && a->toDate() == b->toDate() &&
         a->uniqueID() == b->uniqueID();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelto;
  fuzz::quietLog();
  auto [window, json] = fuzz::firstLineAndRest(fuzz::bytesOf(data, size));
  const std::string line(window);
  char* at = nullptr;
  const double from = std::strtod(line.c_str(), &at);
  char* after = nullptr;
  double to = std::strtod(at, &after);
  if (after == at || !std::isfinite(from) || !std::isfinite(to)) return 0;
  to = std::min(to, from + 31 * 86400.0);
  std::string zone(after);
  if (!zone.empty() && zone.front() == ' ') zone.erase(0, 1);

  Result<nlohmann::json> value = JsonText::parse(json);
  if (!value.ok()) return 0;
  Result<ScheduleZeltoPreferences> record = ScheduleZeltoPreferences::initWithDictionary(*value);
  if (!record.ok()) return 0;
  const Date start = Date::fromSecondsSince1970(from);
  const Date end = Date::fromSecondsSince1970(to);
  std::vector<NormalizedScheduleItem> periods =
      ScheduleHelpers::generatedScheduleForItems({*record}, start, end, zone);

  for (size_t i = 0; i < periods.size(); ++i) {
    const double length = periods[i].toDate().timeIntervalSinceDate(periods[i].fromDate());
    fuzz::require(length > 0 && length <= 26 * 3600.0, "a period is non-empty and a day at most");
    if (i > 0) {
      fuzz::require(!periods[i].fromDate().isLessDate(periods[i - 1].fromDate()),
                    "periods are in time order");
    }
  }
  const Schedule schedule(periods, zone);
  std::vector<Date> probes{start, end};
  for (const auto& period : periods) {
    probes.push_back(period.fromDate());
    probes.push_back(period.toDate());
  }
  for (Date probe : probes) {
    fuzz::require(same(schedule.getActiveScheduleItemForDate(probe),
                       ScheduleHelpers::getActiveScheduleItemFrom(periods, probe)),
                  "the active period agrees with the plain list");
    fuzz::require(same(schedule.getLastActiveScheduleItemFromDate(probe),
                       ScheduleHelpers::getLastActiveScheduleItemFrom(periods, probe)),
                  "the end of the run agrees with the plain list");
  }
  return 0;
}
