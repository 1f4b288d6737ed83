#include "Platform/LocaleDateFormatter.h"

#include <unicode/dtptngen.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cmath>
#include <memory>

#include "Platform/Log.h"
#include "Platform/SystemTimeZones.h"

namespace zelto {
namespace {

// `date` formatted with the ICU `pattern` in the default locale and the zone `timeZone`.
std::string format(Date date, const icu::UnicodeString& pattern, const std::string& timeZone) {
  if (!std::isfinite(date.secondsSince1970())) return "";
  UErrorCode status = U_ZERO_ERROR;
  icu::SimpleDateFormat formatter(pattern, icu::Locale::getDefault(), status);
  if (U_FAILURE(status)) {
    log::error("Date formatter unavailable: {}", u_errorName(status));
    return "";
  }
  Result<std::unique_ptr<icu::TimeZone>> zone =
      SystemTimeZones::zone(SystemTimeZones::knownOrUtc(timeZone));
  if (!zone.ok()) {
    log::error("Date formatter unavailable: {}", zone.status().message());
    return "";
  }
  formatter.adoptTimeZone(zone->release());
  icu::UnicodeString text;
  formatter.format(date.secondsSince1970() * 1000, text);
  std::string out;
  text.toUTF8String(out);
  return out;
}

}  // namespace

std::string LocaleDateFormatter::weekdayName(Date date, const std::string& timeZone) {
  return format(date, icu::UnicodeString(u"EEEE"), timeZone);
}

std::string LocaleDateFormatter::formatWithSkeleton(Date date, const std::string& skeleton,
                                                    const std::string& timeZone) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::DateTimePatternGenerator> generator(
      icu::DateTimePatternGenerator::createInstance(icu::Locale::getDefault(), status));
  if (U_FAILURE(status) || generator == nullptr) {
    log::error("Date pattern generator unavailable: {}", u_errorName(status));
    return "";
  }
  icu::UnicodeString pattern =
      generator->getBestPattern(icu::UnicodeString::fromUTF8(skeleton), status);
  if (U_FAILURE(status)) {
    log::error("No date pattern for {}: {}", skeleton, u_errorName(status));
    return "";
  }
  return format(date, pattern, timeZone);
}

std::string LocaleDateFormatter::defaultLocale() { return icu::Locale::getDefault().getName(); }

void LocaleDateFormatter::setDefaultLocale(const std::string& name) {
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale::setDefault(icu::Locale(name.c_str()), status);
  if (U_FAILURE(status)) log::error("Cannot set the locale {}: {}", name, u_errorName(status));
}

}  // namespace zelto
