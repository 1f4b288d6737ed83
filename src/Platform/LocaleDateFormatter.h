// LocaleDateFormatter: dates as text in the process's default locale: weekday names and the
// locale's own pattern for a set of fields (a CLDR skeleton such as "EEE h:m a").
//
// Class operations only, no state: every call builds its own formatter, so any thread may call
// any operation at the same time, except `setDefaultLocale`, which is meant for start-up and
// tests. Zones are strings SystemTimeZones reads, with the system's rules (an IANA name, a path to
// a zone file or a POSIX rule); an unknown one is read as "UTC" and logs the warning
// "Unknown time zone {}, using UTC". A date that is not finite formats as "". Nothing throws.
#pragma once

#include <string>

#include "Platform/Date.h"

namespace zelto {

class LocaleDateFormatter {
 public:
  // The full weekday name of `date`'s day in `timeZone` ("Monday" in English).
  static std::string weekdayName(Date date, const std::string& timeZone);

  // `date` in `timeZone`, formatted with the default locale's best pattern for `skeleton`: the
  // locale chooses the order of the fields, the separators and any leading zeros. "" when no
  // pattern can be made.
  static std::string formatWithSkeleton(Date date, const std::string& skeleton,
                                        const std::string& timeZone);

  // The default locale's name ("en_US"), and a way to change it for the whole process.
  static std::string defaultLocale();
  static void setDefaultLocale(const std::string& name);
};

}  // namespace zelto
