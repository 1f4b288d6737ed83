#include <gtest/gtest.h>
#include <unicode/basictz.h>
#include <unicode/tzrule.h>
#include <unicode/tztrans.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "Platform/DateCalendar.h"
#include "Platform/LocaleDateFormatter.h"
#include "Platform/SystemTimeZones.h"
#include "Support/LogCapture.h"
#include "Support/TempDir.h"
#include "Support/TestTimeZone.h"

namespace zelto {
namespace {

const std::string kBerlinFile = "/usr/share/zoneinfo/Europe/Berlin";
constexpr double k20240701_1200Z = 1719835200;

// The offset from UTC of `zone` at `t`, in hours, as the calendar reads it.
double offsetHours(const std::string& zone, double t) {
  DateComponents c = DateCalendar::dateComponentsDate(Date::fromSecondsSince1970(t), zone);
  auto asUtc =
      DateCalendar::dateFromComponents(c.year, c.month, c.day, c.hour, c.minute, c.second, "UTC");
  return asUtc ? (asUtc->secondsSince1970() - std::floor(t)) / 3600 : NAN;
}

TEST(SystemTimeZonesTest, ZonesFollowTheSystemDatabaseThroughTheRange) {
  const std::tuple<const char*, double, double> offsets[] = {
      {"Africa/Cairo", k20240701_1200Z, 3},   // daylight saving again since 2023
      {"America/Asuncion", 1751371200, -3},   // 1 Jul 2025: -03 all year since Oct 2024
      {"America/Nuuk", 1705320000, -2},       // 15 Jan 2024: standard time -02 since 2023
      {"America/Nuuk", k20240701_1200Z, -1},  // with daylight saving -01
      {"America/Nuuk", 2224756800, -1},  // 1 Jul 2040: after its file's list, from its closing rule
      // Far past the files' lists, from their closing rules, north and south.
      {"Europe/Berlin", 5759121600, 2},      // 1 Jul 2152
      {"Australia/Sydney", 5744606400, 11},  // 15 Jan 2152
  };
  for (const auto& [zone, utc, hours] : offsets) {
    EXPECT_EQ(offsetHours(zone, utc), hours) << zone << " at " << utc;
  }
  // That closing rule moves Nuuk's clocks at -1:00 on the last Sunday of March, read as 01:00 UTC
  // on 25 March 2040.
  EXPECT_EQ(offsetHours("America/Nuuk", 2216250000 - 1), -2);
  EXPECT_EQ(offsetHours("America/Nuuk", 2216250000), -1);

  // A schedule at 09:00 in Cairo starts at 06:00 UTC that summer, and formatted times agree.
  auto nine = DateCalendar::dateFromComponents(2024, 7, 1, 9, 0, 0, "Africa/Cairo");
  EXPECT_EQ(nine ? nine->secondsSince1970() : -1, k20240701_1200Z - 6 * 3600);
  std::string locale = LocaleDateFormatter::defaultLocale();
  LocaleDateFormatter::setDefaultLocale("en_US");
  Date late = Date::fromSecondsSince1970(k20240701_1200Z + 9.5 * 3600);
  EXPECT_EQ(LocaleDateFormatter::formatWithSkeleton(late, "EEE Hm", "Africa/Cairo"), "Tue 00:30");
  EXPECT_EQ(LocaleDateFormatter::formatWithSkeleton(late, "zzzz", "Africa/Cairo"),
            "Eastern European Summer Time");
  LocaleDateFormatter::setDefaultLocale(locale);
}

TEST(SystemTimeZonesTest, PathsAndPosixRulesReadAsTheCLibraryReadsThem) {
  testing::TempDir dir;
  std::string copy = dir / "localtime";
  std::filesystem::copy_file(kBerlinFile, copy);
  // Just before and at Berlin's changes of 29 March and 25 October 2026.
  const double moments[] = {1774746000 - 1, 1774746000, 1792890000 - 1, 1792890000};
  const double berlin[] = {1, 2, 2, 1};
  for (const std::string& zone : {std::string(":Europe/Berlin"), kBerlinFile, copy,
                                  std::string("CET-1CEST,M3.5.0,M10.5.0/3")}) {
    EXPECT_TRUE(DateCalendar::knowsTimeZone(zone)) << zone;
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(offsetHours(zone, moments[i]), berlin[i]) << zone << " at " << moments[i];
    }
  }
  // Rules the POSIX reader needs help with: a time before midnight, daylight saving named without
  // dates (the C library's default dates then, the US ones).
  EXPECT_EQ(offsetHours("<-02>2<-01>,M3.5.0/-1,M10.5.0/0", 2216250000 - 1), -2);
  EXPECT_EQ(offsetHours("<-02>2<-01>,M3.5.0/-1,M10.5.0/0", 2216250000), -1);
  EXPECT_EQ(offsetHours("ABC5DEF", k20240701_1200Z), -4);
  EXPECT_EQ(offsetHours("ABC5DEF", 1705320000), -5);
  EXPECT_EQ(offsetHours("AEST-10AEDT,M10.1.0,M4.1.0/3", 1705320000), 11);  // southern summer
  EXPECT_EQ(offsetHours("AEST-10AEDT,M10.1.0,M4.1.0/3", k20240701_1200Z), 10);
  EXPECT_EQ(offsetHours("", k20240701_1200Z), 0);

  // Whatever is no zone reads as UTC, with the warning, and does no harm.
  std::string notZone = dir.write("notes", "TZif, or so it says");
  std::string huge = dir.write("huge", "TZif2" + std::string(1 << 20, '\n'));
  for (const std::string& zone : {std::string("Mars/Olympus"), dir.path(), notZone, huge,
                                  std::string("CET-1CEST,M3.5.0"), std::string(5000, 'A')}) {
    testing::LogCapture capture;
    EXPECT_FALSE(DateCalendar::knowsTimeZone(zone)) << zone;
    EXPECT_EQ(offsetHours(zone, k20240701_1200Z), 0) << zone;
    EXPECT_EQ(capture.count("Unknown time zone " + zone + ", using UTC"), 1u) << zone;
  }
}

// Every change of offset of `zone` from 1800 to 2200, as ICU reads the zone.
std::vector<std::string> transitions(const std::string& zone) {
  auto built = SystemTimeZones::zone(zone);
  std::vector<std::string> out;
  auto* basic = built.ok() ? dynamic_cast<icu::BasicTimeZone*>(built->get()) : nullptr;
  if (basic == nullptr) return {"no zone"};
  icu::TimeZoneTransition next;
  for (UDate t = -5364662400000.0; basic->getNextTransition(t, false, next) && t < 7258118400000.0;
       t = next.getTime()) {
    out.push_back(std::to_string(next.getTime()) + " " +
                  std::to_string(next.getTo()->getRawOffset()) + " " +
                  std::to_string(next.getTo()->getDSTSavings()));
  }
  return out;
}

// A zone named plainly is read from its file alone, a copy of the file elsewhere through the
// whole database: both readings agree, odd zones included.
TEST(SystemTimeZonesTest, AZoneReadFromItsFileHasTheChangesTheDatabaseGives) {
  testing::TempDir dir;
  for (const char* name : {"Europe/Berlin", "America/Nuuk", "Australia/Lord_Howe",
                           "Africa/Casablanca", "Pacific/Apia", "Antarctica/Troll", "Etc/GMT+5"}) {
    std::string copy = dir / std::filesystem::path(name).filename().string();
    std::filesystem::copy_file(std::string("/usr/share/zoneinfo/") + name, copy);
    std::vector<std::string> direct = transitions(name);
    EXPECT_EQ(direct, transitions(copy)) << name;
    EXPECT_TRUE(direct.size() > 10 || std::string(name) == "Etc/GMT+5") << name;
  }
}

TEST(SystemTimeZonesTest, TheLocalZoneIsTzElseTheZoneOfEtcLocaltime) {
  testing::TempDir dir;
  std::string link = dir / "link";
  std::filesystem::create_symlink(kBerlinFile, link);
  std::string copy = dir / "copy";
  std::filesystem::copy_file(kBerlinFile, copy);

  EXPECT_EQ(SystemTimeZones::localZoneName(std::nullopt, link), "Europe/Berlin");
  EXPECT_EQ(SystemTimeZones::localZoneName(std::nullopt, copy), copy);
  EXPECT_EQ(SystemTimeZones::localZoneName(std::nullopt, dir / "missing"), "UTC");
  // A relative link into a zoneinfo directory names its zone; one that leads nowhere is UTC.
  std::filesystem::create_directories(dir / "zoneinfo/Asia");
  std::filesystem::copy_file("/usr/share/zoneinfo/Asia/Tokyo", dir / "zoneinfo/Asia/Tokyo");
  std::filesystem::create_directories(dir / "etc");
  std::filesystem::create_symlink("../zoneinfo/Asia/Tokyo", dir / "etc/localtime");
  EXPECT_EQ(SystemTimeZones::localZoneName(std::nullopt, dir / "etc/localtime"), "Asia/Tokyo");
  std::filesystem::create_symlink("../zoneinfo/Asia/Nowhere", dir / "etc/dangling");
  EXPECT_EQ(SystemTimeZones::localZoneName(std::nullopt, dir / "etc/dangling"), "UTC");
  EXPECT_EQ(SystemTimeZones::localZoneName("", link), "UTC");
  EXPECT_EQ(SystemTimeZones::localZoneName(":", link), "UTC");
  EXPECT_EQ(SystemTimeZones::localZoneName(":Asia/Tokyo", link), "Asia/Tokyo");
  EXPECT_EQ(SystemTimeZones::localZoneName("JST-9", link), "JST-9");
}

TEST(SystemTimeZonesTest, TheSystemZoneFollowsTzAtEachCall) {
  // The name the zone goes by (nullptr: not checked), and its offset.
  const std::tuple<const char*, const char*, double> zones[] = {
      {"/usr/share/zoneinfo/Asia/Tokyo", "/usr/share/zoneinfo/Asia/Tokyo", 9},
      {"<+0530>-5:30", nullptr, 5.5},
      {"Mars/Olympus", "UTC", 0}};
  for (const auto& [tz, name, hours] : zones) {
    ::setenv("TZ", tz, 1);
    if (name) {
      EXPECT_EQ(DateCalendar::systemTimeZoneName(), name);
    }
    EXPECT_EQ(offsetHours(DateCalendar::systemTimeZoneName(), k20240701_1200Z), hours) << tz;
  }
  ::setenv("TZ", testing::kTestTimeZone, 1);
}

}  // namespace
}  // namespace zelto
