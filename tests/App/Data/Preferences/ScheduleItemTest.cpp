#include <gtest/gtest.h>

#include "App/Data/Preferences/ScheduleItem.h"

namespace zelto {
namespace {

using json = nlohmann::json;

TEST(ScheduleItemTest, FreshInsertExportsUnsetTimesAndFalseFlags) {
  ScheduleItem item("x-zelto-item://S1");
  item.awakeFromInsert();
  json unset = {{"hour", CalendarComponents::kUndefined},
                {"minute", CalendarComponents::kUndefined}};
  EXPECT_EQ(item.exportToJSON(), json({{"fromDate", unset},
                                       {"toDate", unset},
                                       {"scheduleType", 0},
                                       {"sortIndex", 0},
                                       {"dirty", false},
                                       {"enabled", false},
                                       {"uniqueID", "x-zelto-item://S1"}}));
}

TEST(ScheduleItemTest, FetchFillsOnlyAbsentFlags) {
  ScheduleItem item;
  item.enabled = true;
  item.fromDateComponents = CalendarComponents{.hour = 0, .minute = 0};
  item.awakeFromFetch();
  EXPECT_EQ(item.dirty, false);
  EXPECT_EQ(item.enabled, true);
  EXPECT_EQ(item.scheduleType, std::nullopt);

  json out = item.exportToJSON();
  EXPECT_EQ(out["fromDate"], json({{"hour", 0}, {"minute", 0}}));  // zeros are written
  EXPECT_EQ(out["toDate"]["hour"], CalendarComponents::kUndefined);
  EXPECT_TRUE(out["scheduleType"].is_null());
  EXPECT_EQ(out["uniqueID"].get<std::string>().rfind("x-zelto-item://", 0), 0u);
}

}  // namespace
}  // namespace zelto
