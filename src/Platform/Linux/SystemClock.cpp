#include <time.h>

#include "Platform/Clock.h"

namespace zelto {

namespace {
double readClock(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}
}  // namespace

Date SystemClock::now() const { return Date::fromSecondsSince1970(readClock(CLOCK_REALTIME)); }

double SystemClock::monotonicSeconds() const { return readClock(CLOCK_MONOTONIC); }

}  // namespace zelto
