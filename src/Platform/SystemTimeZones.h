// SystemTimeZones: ICU time zones built from the system's time-zone database (/usr/share/zoneinfo),
// the rules the desktop clock and every other program follow, so that calendar work here agrees
// with them even where ICU's built-in data is older.
//
// A zone is given as a string and read the way the C library reads TZ: an IANA name
// ("Europe/Berlin"), the same after a colon (":Europe/Berlin"), a path to a zone file
// ("/usr/share/zoneinfo/Europe/Berlin", or a copy of one such as a plain-file /etc/localtime),
// or a POSIX rule ("CET-1CEST,M3.5.0,M10.5.0/3"); "" and ":" are UTC. A file comes first, then a
// rule, then, for a name the system has no data for (no zone database at all, say), ICU's own
// data. A zone file that is none of the database's own (compared byte for byte) cannot be read.
//
// Each zone holds its transitions from 1800 to 2200 (the database's files, then the rule at their
// end); before them the first offset holds, after them the last. Zones are built on first use and
// kept for the life of the process, unknown ones too, so a database update shows after a restart.
//
// Class operations only, no instances; any thread may call any of them at the same time.
#pragma once

#include <unicode/timezone.h>

#include <memory>
#include <optional>
#include <string>

#include "Platform/Status.h"

namespace zelto {

class SystemTimeZones {
 public:
  // A new zone for `zone`, owned by the caller, or why there is none.
  static Result<std::unique_ptr<icu::TimeZone>> zone(const std::string& zone);

  // Whether zone() has a zone for `zone`.
  static bool knows(const std::string& zone);

  // `zone` when it is known, else "UTC" after the warning "Unknown time zone {}, using UTC".
  static std::string knownOrUtc(const std::string& zone);

  // The local zone as the C library finds it: TZ's value (`tz`, nothing when TZ is unset) with
  // any leading colon dropped, "UTC" when that leaves nothing; with TZ unset, the zone of the
  // file `localtime`: its name when it is a link into a zoneinfo directory, else the file's own
  // path, and "UTC" when there is no such file (or the link leads nowhere).
  static std::string localZoneName(const std::optional<std::string>& tz,
                                   const std::string& localtime = "/etc/localtime");
};

}  // namespace zelto
