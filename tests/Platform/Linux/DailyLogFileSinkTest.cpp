#include <fmt/format.h>
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "Platform/DailyLogFileSink.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

std::string dayName(const std::string& folder, std::chrono::system_clock::time_point day) {
  std::time_t t = std::chrono::system_clock::to_time_t(day);
  std::tm local{};
  ::localtime_r(&t, &local);
  return fmt::format("{}/Agent_{:04d}-{:02d}-{:02d}.log", folder, local.tm_year + 1900,
                     local.tm_mon + 1, local.tm_mday);
}

TEST(DailyLogFileSinkTest, ANewDayGetsAFileOfItsOwnAndOnlyTheNewestAreKept) {
  testing::TempDir temp;
  const auto now = std::chrono::system_clock::now();
  const auto day = std::chrono::hours(24);
  for (int back = 1; back <= 2; ++back)
    std::ofstream(dayName(temp.path(), now - back * day)) << "old\n";

  auto sink = DailyLogFileSink::open(temp.path() + "/Agent.log", 3);
  ASSERT_TRUE(sink.ok()) << sink.status().message();
  EXPECT_EQ((*sink)->filename(), dayName(temp.path(), now));
  spdlog::details::log_msg line(now + day, {}, "agent", spdlog::level::info, "tomorrow's line");
  (*sink)->log(line);

  std::ifstream tomorrow(dayName(temp.path(), now + day));
  std::string text((std::istreambuf_iterator<char>(tomorrow)), {});
  EXPECT_NE(text.find("tomorrow's line"), std::string::npos);
  // Three files are kept: tomorrow's, today's and yesterday's; the day before goes.
  EXPECT_TRUE(std::filesystem::exists(dayName(temp.path(), now)));
  EXPECT_TRUE(std::filesystem::exists(dayName(temp.path(), now - day)));
  EXPECT_FALSE(std::filesystem::exists(dayName(temp.path(), now - 2 * day)));
}

}  // namespace
}  // namespace zelto
