// Fuzz target: the system guard's requests. The whole input is the bytes a client sent.
//
// A request that reads is acted on only through its lock: written and read back, the lock must
// read the same (after the first writing, which rounds its end to the millisecond), and a lock
// never loosens itself.
#include "App/Guard/GuardRequest.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelto;
  fuzz::quietLog();
  auto request = GuardRequest::parse(fuzz::bytesOf(data, size));
  if (!request || !request->lock) return 0;
  auto written = GuardLock::fromJson(request->lock->toJson());
  fuzz::require(written.ok(), "a written lock reads");
  auto again = GuardLock::fromJson(written->toJson());
  fuzz::require(again.ok() && *again == *written, "a lock reads as it was written");
  fuzz::require(written->loosenedBy(*written).empty(), "a lock never loosens itself");
  return 0;
}
