// Readable Google Test output for Date and DateComponents values in failed assertions.
//
// Include it in any test that compares these values; found by argument-dependent lookup.
#pragma once

#include <ostream>

#include "Platform/Date.h"
#include "Platform/DateComponents.h"

namespace zelto {

inline void PrintTo(const Date& date, std::ostream* out) {
  *out << "Date(" << std::fixed << date.secondsSince1970() << ")";
}

inline void PrintTo(const DateComponents& c, std::ostream* out) {
  *out << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":" << c.minute << ":"
       << c.second << " weekday " << c.weekday;
}

}  // namespace zelto
