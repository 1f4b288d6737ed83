#include "Platform/SystemTimeZones.h"

#include <unicode/rbtz.h>
#include <unicode/tzrule.h>
#include <unicode/ucal.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Platform/FileSystem.h"
#include "Platform/Log.h"

// The library reads the system's database (Debian builds it with USE_OS_TZDB). Its ptz.h, which
// reads POSIX rules, names hh_mm_ss unqualified where C++20's std::chrono::hh_mm_ss is in view
// too; an alias of date's own in namespace date is the one name it can find there.
#include <date/tz.h>
namespace date {
template <class Duration>
using ptz_hh_mm_ss = hh_mm_ss<Duration>;
}  // namespace date
#define hh_mm_ss ptz_hh_mm_ss
#include <date/ptz.h>
#undef hh_mm_ss

namespace zelto {
namespace {

using std::chrono::seconds;
using SysSeconds = date::sys_seconds;

constexpr const char* kZoneDirectory = "/usr/share/zoneinfo";
// Transitions are taken from this range.
constexpr SysSeconds kRangeStart{date::sys_days{date::year{1800} / date::January / 1}};
constexpr SysSeconds kRangeEnd{date::sys_days{date::year{2200} / date::January / 1}};
// A period the library ends here or later is the last of its zone file, without end.
constexpr SysSeconds kOpenEnd{date::sys_days{date::year{30000} / date::January / 1}};
// ptz.h starts a rule without daylight saving here.
constexpr SysSeconds kRuleForever{date::sys_days{date::year::min() / date::January / 1}};
// Limits that keep bad input cheap: real zone files are a few kilobytes, with about two
// transitions a year in the range.
constexpr size_t kMaxZoneFileBytes = 256 * 1024;
constexpr size_t kMaxZoneTextBytes = 4096;
constexpr size_t kMaxPeriods = 10000;
constexpr size_t kMaxCachedZones = 256;
// The C library takes offsets up to 24:59:59.
constexpr seconds kMaxOffset = std::chrono::hours{25};
// The C library's rule for a POSIX zone that names daylight-saving time without dates: that of
// its "posixrules" zone, New York, whose rule since 2007 this is.
constexpr std::string_view kDefaultDaylightRules = ",M3.2.0,M11.1.0";

// A stretch of time with one offset from UTC, from `start` to the start of the next.
struct Period {
  SysSeconds start;
  seconds offset;
  bool daylight;
};

std::string zoneFilePath(const std::string& name) {
  return std::string(kZoneDirectory) + "/" + name;
}

// The whole regular file at `path`, refused beyond kMaxZoneFileBytes; a FIFO or device at the
// path is refused without blocking.
Result<std::string> readZoneFile(const std::string& path) {
  LocalFileSystem fs;
  std::optional<FileStatus> status = fs.inspect(path).toOptional();
  if (status && status->kind == FileStatus::Kind::kRegular && status->size > kMaxZoneFileBytes) {
    return Status::failure("Too large for a zone file: " + path);
  }
  Result<std::string> contents = fs.readFile(path, kMaxZoneFileBytes);
  if (contents.ok() && contents->size() > kMaxZoneFileBytes) {  // it grew meanwhile
    return Status::failure("Too large for a zone file: " + path);
  }
  return contents;
}

bool isZoneFile(const std::string& contents) { return contents.starts_with("TZif"); }

// The POSIX rule a zone file (version 2 on) gives for the times after its last transition, on
// the last line; "" when it gives none.
std::string closingRule(const std::string& contents) {
  if (!isZoneFile(contents) || contents.size() < 6 || contents[4] < '2' ||
      contents.back() != '\n') {
    return "";
  }
  size_t start = contents.rfind('\n', contents.size() - 2);
  if (start == std::string::npos) return "";
  return contents.substr(start + 1, contents.size() - start - 2);
}

// ---------------------------------------------------------------------------------------------
// POSIX rules

// A POSIX rule as ptz.h reads it. That reader refuses negative transition times (America/Nuuk's
// rule moves its clocks at "M3.5.0/-1") and long ones: times outside 0-24 hours are read as 0
// and their transitions moved by the difference afterwards.
struct PosixRule {
  std::string text;
  Posix::time_zone zone;
  seconds startShift{0};  // of the transitions into daylight time
  seconds endShift{0};    // of those out of it
};

// A rule's transition time, "[+-]hh[:mm[:ss]]", up to 167 hours either way.
Result<seconds> ruleTime(std::string_view text) {
  bool negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  int64_t total = 0;
  int parts = 0;
  for (;;) {
    size_t digits = 0;
    int64_t value = 0;
    while (digits < text.size() && digits < 3 && text[digits] >= '0' && text[digits] <= '9') {
      value = value * 10 + (text[digits++] - '0');
    }
    if (digits == 0 || (parts > 0 && (digits > 2 || value > 59))) {
      return Status::failure("Not a rule time");
    }
    total = total * 60 + value;
    text.remove_prefix(digits);
    ++parts;
    if (text.empty()) break;
    if (text.front() != ':' || parts == 3) return Status::failure("Not a rule time");
    text.remove_prefix(1);
  }
  for (; parts < 3; ++parts) total *= 60;
  if (total >= 168 * 3600) return Status::failure("Rule time out of range");
  return seconds(negative ? -total : total);
}

Result<PosixRule> posixRule(const std::string& text) {
  std::string readable = text;
  seconds shifts[2] = {};
  size_t comma = text.find(',');
  if (comma == std::string::npos) {
    try {
      return PosixRule{text, Posix::time_zone(text + std::string(kDefaultDaylightRules))};
    } catch (const std::exception&) {
      // No daylight-saving time named: read below as it stands.
    }
  } else if (size_t second = text.find(',', comma + 1); second != std::string::npos) {
    std::string dates[2] = {text.substr(comma + 1, second - comma - 1), text.substr(second + 1)};
    for (int i = 0; i < 2; ++i) {
      size_t slash = dates[i].find('/');
      if (slash == std::string::npos) continue;
      Result<seconds> time = ruleTime(std::string_view(dates[i]).substr(slash + 1));
      if (time.ok() && (*time < seconds{0} || *time > std::chrono::hours{24})) {
        shifts[i] = *time;
        dates[i].replace(slash + 1, std::string::npos, "0");
      }
    }
    readable = text.substr(0, comma) + "," + dates[0] + "," + dates[1];
  }
  try {
    return PosixRule{text, Posix::time_zone(readable), shifts[0], shifts[1]};
  } catch (const std::exception&) {
    return Status::failure("Not a time-zone rule: " + text);
  }
}

// The periods of `rule` over [from, to), the first one starting at `from`.
Result<std::vector<Period>> rulePeriods(const PosixRule& rule, SysSeconds from, SysSeconds to) {
  // Shifted transitions move by less than this: the period under way at `from` begins after it.
  constexpr std::chrono::hours kMargin{8 * 24};
  std::vector<Period> periods;
  SysSeconds previous = kRuleForever;
  SysSeconds t = from - kMargin;
  for (size_t steps = 0;; ++steps) {
    date::sys_info info = rule.zone.get_info(t);
    // The reader leaves `save` unset when there is no daylight time.
    if (info.begin == kRuleForever) return std::vector<Period>{{from, info.offset, false}};
    bool daylight = info.save != std::chrono::minutes{0};
    SysSeconds start = info.begin + (daylight ? rule.startShift : rule.endShift);
    // Rules with impossible dates ("M13.1.0") give periods that overlap or don't move on.
    if (info.begin > t || info.end <= t || start <= previous || steps > kMaxPeriods) {
      return Status::failure("No consistent times from the rule " + rule.text);
    }
    previous = start;
    if (start >= to) break;
    if (start <= from) periods.clear();
    periods.push_back({std::max(start, from), info.offset, daylight});
    t = info.end;
  }
  if (periods.empty() || periods.front().start != from) {
    return Status::failure("No consistent times from the rule " + rule.text);
  }
  return periods;
}

// ---------------------------------------------------------------------------------------------
// The database

Result<const date::tzdb*> database() {
  try {
    return &date::get_tzdb();
  } catch (const std::exception& e) {
    return Status::failure(std::string("No time-zone database: ") + e.what());
  }
}

const date::time_zone* findZone(const date::tzdb& db, const std::string& name) {
  auto found = std::lower_bound(
      db.zones.begin(), db.zones.end(), name,
      [](const date::time_zone& zone, const std::string& key) { return zone.name() < key; });
  return found != db.zones.end() && found->name() == name ? &*found : nullptr;
}

// The database's name for a file with exactly `contents`; one that is no link when there is one.
Result<std::string> nameOfSameFile(const date::tzdb& db, const std::string& contents) {
  std::string linked;
  for (const date::time_zone& zone : db.zones) {
    if (zone.name() == "localtime") continue;  // the local zone, whatever it is
    std::string path = zoneFilePath(zone.name());
    std::error_code error;
    if (std::filesystem::file_size(path, error) != contents.size() || error) continue;
    Result<std::string> other = readZoneFile(path);
    if (!other.ok() || *other != contents) continue;
    if (!std::filesystem::is_symlink(path, error)) return zone.name();
    if (linked.empty()) linked = zone.name();
  }
  if (!linked.empty()) return linked;
  return Status::failure("Not one of the system's zone files");
}

// The database's name for the zone `text` stands for: `text` itself, the name of a file in the
// zone directory, or that of a database file with the same contents.
Result<std::string> databaseName(const date::tzdb& db, const std::string& text) {
  std::string name = text;
  if (text.starts_with('/')) {
    std::filesystem::path inside =
        std::filesystem::path(text).lexically_normal().lexically_relative(kZoneDirectory);
    name = inside.empty() || *inside.begin() == ".." ? "" : inside.string();
  }
  if (!name.empty() && findZone(db, name) != nullptr) return name;

  std::string path = text.starts_with('/') ? text : zoneFilePath(text);
  Result<std::string> contents = readZoneFile(path);
  if (!contents.ok()) return contents.status();
  if (!isZoneFile(*contents)) return Status::failure("Not a zone file: " + path);
  return nameOfSameFile(db, *contents);
}

// `periods`, the last of which is the last a zone file lists, followed by those of the rule at
// the end of the file (`contents`) up to the range's end. Without a rule that gives consistent
// times, the last offset lasts, as in the library.
std::vector<Period> withClosingRule(std::vector<Period> periods, const std::string& contents,
                                    const std::string& zoneName) {
  std::string closing = closingRule(contents);
  if (closing.empty()) return periods;
  Result<PosixRule> rule = posixRule(closing);
  Result<std::vector<Period>> later =
      rule.ok() ? rulePeriods(*rule, periods.back().start, kRangeEnd) : rule.status();
  if (!later.ok()) {
    log::debug("Time zone {}: {}", zoneName, later.status().message());
    return periods;
  }
  periods.insert(periods.end(), later->begin() + 1, later->end());
  return periods;
}

// The periods of the database zone `zone` over the range: those its file lists, then those of
// the rule at the file's end, which the library does not read.
Result<std::vector<Period>> databasePeriods(const date::time_zone& zone) {
  std::vector<Period> periods;
  date::sys_info info;
  for (SysSeconds t = kRangeStart;; t = info.end) {
    info = zone.get_info(t);
    if (info.begin > t || info.end <= t || periods.size() > kMaxPeriods) {
      return Status::failure("No consistent times in the zone file of " + zone.name());
    }
    periods.push_back(
        {std::max(info.begin, kRangeStart), info.offset, info.save != std::chrono::minutes{0}});
    if (info.end >= kRangeEnd) break;
  }
  if (info.end < kOpenEnd) return periods;

  Result<std::string> contents = readZoneFile(zoneFilePath(zone.name()));
  if (!contents.ok()) return periods;
  return withClosingRule(std::move(periods), *contents, zone.name());
}

// ---------------------------------------------------------------------------------------------
// Zone files read directly

uint64_t bigEndian(const std::string& bytes, size_t at, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// The periods of the zone file `contents` (of zone `name`) over the range, read from its own data
// (version 2 on: the 64-bit transitions, then the rule at its end), as databasePeriods reads them
// through the database; a failure for what it leaves to the database: a version 1 file, one with
// leap seconds, one cut short or with more transitions than real zones have.
Result<std::vector<Period>> filePeriods(const std::string& name, const std::string& contents) {
  constexpr size_t kHeader = 44;
  struct Counts {
    uint64_t isUt, isStd, leaps, times, types, chars;
  };
  auto counts = [&](size_t at) -> std::optional<Counts> {
    if (contents.size() < at + kHeader || contents.compare(at, 4, "TZif") != 0) return std::nullopt;
    auto count = [&](int i) { return bigEndian(contents, at + 20 + 4 * i, 4); };
    return Counts{count(0), count(1), count(2), count(3), count(4), count(5)};
  };
  auto fail = [] { return Status::failure("Left to the database"); };
  std::optional<Counts> first = counts(0);
  if (!first || contents[4] < '2' || first->times > kMaxPeriods || first->types > 256 ||
      first->leaps > kMaxPeriods) {
    return fail();
  }
  const size_t second = kHeader + first->times * 5 + first->types * 6 + first->chars +
                        first->leaps * 8 + first->isStd + first->isUt;
  std::optional<Counts> c = counts(second);
  if (!c || c->leaps != 0 || c->times > kMaxPeriods || c->types == 0 || c->types > 256) {
    return fail();
  }
  const size_t times = second + kHeader;
  const size_t indexes = times + 8 * c->times;
  const size_t types = indexes + c->times;
  if (contents.size() < types + 6 * c->types + c->chars + c->isStd + c->isUt) return fail();

  auto periodOfType = [&](SysSeconds start, uint64_t type) -> std::optional<Period> {
    if (type >= c->types) return std::nullopt;
    const size_t at = types + 6 * type;
    const auto offset = static_cast<int32_t>(bigEndian(contents, at, 4));
    return Period{start, seconds{offset}, contents[at + 4] != 0};
  };
  // Before the first transition, the first type holds.
  std::optional<Period> current = periodOfType(kRangeStart, 0);
  std::vector<Period> periods;
  bool listedBeyond = false;  // then the closing rule has nothing to add
  for (uint64_t i = 0; i < c->times && current; ++i) {
    const SysSeconds at{seconds{static_cast<int64_t>(bigEndian(contents, times + 8 * i, 8))}};
    if (at >= kRangeEnd) {
      listedBeyond = true;
      break;
    }
    std::optional<Period> next =
        periodOfType(std::max(at, kRangeStart), static_cast<unsigned char>(contents[indexes + i]));
    if (!next) return fail();
    if (at > kRangeStart) periods.push_back(*current);
    current = next;
  }
  if (!current) return fail();
  periods.push_back(*current);
  if (listedBeyond) return periods;
  return withClosingRule(std::move(periods), contents, name);
}

// The name in the zone directory that `text` gives plainly: a name such as "Europe/Berlin", or a
// path to it there; nothing for any other text (relative parts, other places, other names).
std::optional<std::string> plainZoneName(const std::string& text) {
  std::string name = text;
  if (text.starts_with('/')) {
    std::string directory = std::string(kZoneDirectory) + "/";
    if (!text.starts_with(directory)) return std::nullopt;
    name = text.substr(directory.size());
  }
  if (name.empty() || name.front() == '/' || name.back() == '/') return std::nullopt;
  // Files the database leaves out: its copies of New York's rules and of the zones in other
  // time scales.
  if (name == "posixrules" || name.starts_with("posix/") || name.starts_with("right/")) {
    return std::nullopt;
  }
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '-' || c == '+';
    if (plain) continue;
    // Not first (checked above), and not after a separator or a dot.
    const char before = i > 0 ? name[i - 1] : '/';
    if ((c != '/' && c != '.') || before == '/' || before == '.') return std::nullopt;
  }
  return name;
}

// ---------------------------------------------------------------------------------------------
// ICU zones

// The zone `id` with the transitions of `periods`, the first of which holds before them.
Result<std::unique_ptr<icu::TimeZone>> icuZone(const std::string& id,
                                               const std::vector<Period>& periods) {
  if (periods.empty()) return Status::failure("No times for the zone " + id);
  for (const Period& period : periods) {
    if (period.offset > kMaxOffset || period.offset < -kMaxOffset) {
      return Status::failure("Offset out of range in the zone " + id);
    }
  }

  // ICU keeps the standard offset and the daylight saving apart; zone files only mark daylight
  // time. Its saving is what it adds to the standard time before it (or, failing that, after
  // it); daylight time that adds nothing is read as standard time.
  struct Split {
    int32_t raw;
    int32_t saving;
    auto operator<=>(const Split&) const = default;
  };
  size_t count = periods.size();
  std::vector<std::optional<seconds>> standardBefore(count), standardAfter(count);
  for (size_t i = 1; i < count; ++i) {
    const Period& last = periods[i - 1];
    standardBefore[i] = last.daylight ? standardBefore[i - 1] : last.offset;
  }
  for (size_t i = count - 1; i-- > 0;) {
    const Period& next = periods[i + 1];
    standardAfter[i] = next.daylight ? standardAfter[i + 1] : next.offset;
  }
  auto millis = [](seconds s) { return static_cast<int32_t>(s.count() * 1000); };
  std::vector<Split> splits;
  for (size_t i = 0; i < count; ++i) {
    seconds offset = periods[i].offset;
    seconds saving{0};
    if (periods[i].daylight && standardBefore[i] && offset > *standardBefore[i]) {
      saving = offset - *standardBefore[i];
    } else if (periods[i].daylight && standardAfter[i] && offset > *standardAfter[i]) {
      saving = offset - *standardAfter[i];
    }
    splits.push_back({millis(offset - saving), millis(saving)});
  }

  icu::UnicodeString uid = icu::UnicodeString::fromUTF8(id);
  auto zone = std::make_unique<icu::RuleBasedTimeZone>(
      uid, new icu::InitialTimeZoneRule(uid, splits[0].raw, splits[0].saving));
  std::map<Split, std::vector<UDate>> starts;
  for (size_t i = 1; i < count; ++i) {
    if (splits[i] == splits[i - 1]) continue;
    starts[splits[i]].push_back(static_cast<UDate>(periods[i].start.time_since_epoch().count()) *
                                1000);
  }
  UErrorCode status = U_ZERO_ERROR;
  for (const auto& [split, times] : starts) {
    zone->addTransitionRule(new icu::TimeArrayTimeZoneRule(
                                uid, split.raw, split.saving, times.data(),
                                static_cast<int32_t>(times.size()), icu::DateTimeRule::UTC_TIME),
                            status);
  }
  zone->complete(status);
  if (U_FAILURE(status)) {
    return Status::failure("Cannot make the zone " + id + ": " + u_errorName(status));
  }
  return std::unique_ptr<icu::TimeZone>(std::move(zone));
}

Result<std::unique_ptr<icu::TimeZone>> builtInZone(const std::string& name) {
  std::unique_ptr<icu::TimeZone> zone(
      icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(name)));
  icu::UnicodeString id;
  if (zone != nullptr) zone->getID(id);
  if (zone == nullptr || id == icu::UnicodeString(UCAL_UNKNOWN_ZONE_ID)) {
    return Status::failure("No zone named " + name + " in ICU's data either");
  }
  return zone;
}

// The zone for `zoneText`, looked for as the C library does: a file, else a POSIX rule; ICU's
// data serves names the system has nothing for.
Result<std::unique_ptr<icu::TimeZone>> build(const std::string& zoneText) {
  if (zoneText.size() > kMaxZoneTextBytes) return Status::failure("Too long for a time zone");
  std::string text = zoneText.starts_with(':') ? zoneText.substr(1) : zoneText;
  if (text.empty()) text = "UTC";

  // A zone of the directory, named plainly, is read from its file alone: the database (a walk
  // of the whole directory, milliseconds) serves the rest: other files, which are named after
  // the database's file with the same bytes, and files it reads differently.
  if (std::optional<std::string> name = plainZoneName(text)) {
    Result<std::string> contents = readZoneFile(zoneFilePath(*name));
    Result<std::vector<Period>> periods = contents.ok()
                                              ? filePeriods(*name, *contents)
                                              : Result<std::vector<Period>>(contents.status());
    if (periods.ok()) {
      Result<std::unique_ptr<icu::TimeZone>> zone = icuZone(*name, *periods);
      if (zone.ok()) return zone;
    }
  }

  Result<const date::tzdb*> db = database();
  Status fileStatus = db.status();
  if (db.ok()) {
    Result<std::string> name = databaseName(**db, text);
    fileStatus = name.status();
    if (name.ok()) {
      try {
        Result<std::vector<Period>> periods = databasePeriods(*findZone(**db, *name));
        Result<std::unique_ptr<icu::TimeZone>> zone =
            periods.ok() ? icuZone(*name, *periods) : periods.status();
        if (zone.ok()) return zone;
        fileStatus = zone.status();
      } catch (const std::exception& e) {
        fileStatus = Status::failure("Can't read the zone " + *name + ": " + e.what());
      }
    }
  }

  Result<PosixRule> rule = posixRule(text);
  if (rule.ok()) {
    Result<std::vector<Period>> periods = rulePeriods(*rule, kRangeStart, kRangeEnd);
    return periods.ok() ? icuZone(text, *periods) : periods.status();
  }
  Result<std::unique_ptr<icu::TimeZone>> builtIn = builtInZone(text);
  if (builtIn.ok()) return builtIn;
  return fileStatus.withContext(zoneText);
}

// Built zones, and the reasons for those that could not be built, by zone text.
struct Cache {
  std::mutex mutex;
  struct Entry {
    std::unique_ptr<icu::TimeZone> zone;
    Status status;
  };
  std::unordered_map<std::string, Entry> entries;

  // The entry for `zone`, built on first use. REQUIRES: `mutex` held.
  const Entry& entryLocked(const std::string& zone) {
    auto found = entries.find(zone);
    if (found != entries.end()) return found->second;
    if (entries.size() >= kMaxCachedZones) entries.clear();
    Result<std::unique_ptr<icu::TimeZone>> built = build(zone);
    Entry entry;
    if (built.ok()) {
      entry.zone = std::move(*built);
    } else {
      entry.status = built.status();
      log::debug("No time zone for {}: {}", zone, entry.status.message());
    }
    return entries.emplace(zone, std::move(entry)).first->second;
  }
};

// Never destroyed, so that threads still running at exit may use it.
Cache& cache() {
  static Cache* instance = new Cache;
  return *instance;
}

}  // namespace

Result<std::unique_ptr<icu::TimeZone>> SystemTimeZones::zone(const std::string& zone) {
  Cache& zones = cache();
  std::lock_guard<std::mutex> lock(zones.mutex);
  const Cache::Entry& entry = zones.entryLocked(zone);
  if (entry.zone == nullptr) return entry.status;
  return std::unique_ptr<icu::TimeZone>(entry.zone->clone());
}

bool SystemTimeZones::knows(const std::string& zone) {
  Cache& zones = cache();
  std::lock_guard<std::mutex> lock(zones.mutex);
  return zones.entryLocked(zone).zone != nullptr;
}

std::string SystemTimeZones::knownOrUtc(const std::string& zone) {
  if (knows(zone)) return zone;
  log::warning("Unknown time zone {}, using UTC", zone);
  return "UTC";
}

std::string SystemTimeZones::localZoneName(const std::optional<std::string>& tz,
                                           const std::string& localtime) {
  if (tz) {
    std::string text = tz->starts_with(':') ? tz->substr(1) : *tz;
    return text.empty() ? "UTC" : text;
  }
  std::error_code error;
  if (!std::filesystem::exists(localtime, error)) return "UTC";
  std::filesystem::path target = std::filesystem::read_symlink(localtime, error);
  if (!error) {
    if (target.is_relative()) target = std::filesystem::path(localtime).parent_path() / target;
    std::string path = target.lexically_normal().string();
    size_t at = path.rfind("/zoneinfo/");
    if (at != std::string::npos) {
      std::string name = path.substr(at + std::strlen("/zoneinfo/"));
      if (knows(name)) return name;
    }
  }
  return localtime;
}

}  // namespace zelto
