// TestTimeZone: the one zone the whole test binary runs in, whatever the machine's own.
//
// TestTimeZone.cpp sets TZ to it during static initialisation, before main and so before
// anything reads the local zone; programs the tests start inherit it. Tests can then write
// local wall-clock times out literally. Asia/Tokyo is nine hours ahead of UTC all year: a local
// reading differs from the UTC one, and no daylight-saving change moves it.
#pragma once

namespace zelto::testing {

inline constexpr const char* kTestTimeZone = "Asia/Tokyo";

}  // namespace zelto::testing
