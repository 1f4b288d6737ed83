#include "Support/TestTimeZone.h"

#include <stdlib.h>

namespace zelto::testing {
namespace {

[[maybe_unused]] const bool kZoneSet = ::setenv("TZ", kTestTimeZone, 1) == 0;

}  // namespace
}  // namespace zelto::testing
